// The resources built into tovik.exe: icon, manifest, version information, report strings.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>

#include "core/failure_texts.h"
#include "res/version.h"
#include "tests/win32/test_support.h"

namespace tovik {
namespace {

#pragma pack(push, 2)
struct IconDirectoryEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
struct IconDirectory {
  WORD reserved, type, count;
  IconDirectoryEntry entries[1];
};
#pragma pack(pop)

class Resources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    exe = testing::ProgramFolder() + "tovik.exe";
    module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
  }
  static std::string Resource(LPCSTR name, LPCSTR type) {
    HRSRC found = FindResourceA(module, name, type);
    if (!found) return {};
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
  }
  static inline std::string exe;
  static inline HMODULE module = nullptr;
};

TEST_F(Resources, MainIconIsOne32By32ImageAt32BitsPerPixel) {
  const std::string group = Resource("MAINICON", RT_GROUP_ICON);
  ASSERT_GE(group.size(), sizeof(IconDirectory));
  const auto* directory = reinterpret_cast<const IconDirectory*>(group.data());
  ASSERT_EQ(directory->count, 1);
  EXPECT_EQ(directory->entries[0].width, 32);
  EXPECT_EQ(directory->entries[0].height, 32);
  EXPECT_EQ(directory->entries[0].bitCount, 32);
}

TEST_F(Resources, ManifestAsksForCommonControlsSixAndNothingElse) {
  const std::string manifest = Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  for (const char* part :
       {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
        "publicKeyToken=\"6595b64144ccf1df\"", "processorArchitecture=\"X86\"", "language=\"*\"",
        "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\"", "<description>"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
  for (const char* absent : {"requestedExecutionLevel", "dpiAware", "supportedOS"}) {
    EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
  }
}

TEST_F(Resources, VersionIsOneZeroZeroZeroForAWindowsApplication) {
  DWORD ignored = 0;
  std::string block(GetFileVersionInfoSizeA(exe.c_str(), &ignored), '\0');
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, block.size(), block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(0, 1)));
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(0, 1)));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  DWORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &size));
  ASSERT_EQ(size, 4u);
  EXPECT_EQ(*translation, static_cast<DWORD>(MAKELONG(0x0000, 1252)));
  char* text = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\000004E4\\FileVersion",
                             reinterpret_cast<void**>(&text), &size));
  EXPECT_STREQ(text, TOVIK_VERSION_TEXT);
}

TEST_F(Resources, StringTableHoldsTheFailureReportTexts) {
  const std::pair<UINT, const char*> cases[] = {{65438, TOVIK_REPORT_FORMAT},
                                                {65439, TOVIK_REPORT_CAPTION},
                                                {65408, TOVIK_CONVERT_ERROR_FORMAT}};
  for (const auto& [id, expected] : cases) {
    char text[256] = {};
    LoadStringA(module, id, text, sizeof text);
    EXPECT_STREQ(text, expected) << id;
  }
  EXPECT_STREQ(TOVIK_REPORT_FORMAT, "Exception %s in module %s at %p.\n%s%s");
}

}  // namespace
}  // namespace tovik
