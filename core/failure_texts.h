/* Texts of the failure report, shared by the string table and the code (plain C for windres). */
#pragma once

#define TOVIK_REPORT_FORMAT "Exception %s in module %s at %p.\n%s%s"
#define TOVIK_REPORT_CAPTION "Application Error"
#define TOVIK_CONVERT_ERROR_FORMAT "'%s' is not a valid integer value"
