/* The program's version, shared by the resource script and the code (plain C for windres). */
#pragma once

#define TOVIK_VERSION_MAJOR 1
#define TOVIK_VERSION_MINOR 0
#define TOVIK_VERSION_PATCH 0
#define TOVIK_VERSION_BUILD 0
#define TOVIK_VERSION_TEXT "1.0.0.0"
