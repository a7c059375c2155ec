// The version resources of zelcrypto.dll and zelblob.dll, read back the way
// Explorer's properties page reads them: GetFileVersionInfo, the fixed part
// and the strings of the language and code page the translation table names.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring ModuleDir()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir;
}

std::wstring Widen(const char* text)
{
    return std::wstring(text, text + strlen(text));
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? char(c) : '?';
    return out;
}

class VersionInfo {
public:
    explicit VersionInfo(const std::wstring& path)
    {
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
        if (size == 0)
            return;
        data_.resize(size);
        if (!GetFileVersionInfoW(path.c_str(), 0, size, data_.data()))
            data_.clear();
    }

    bool Loaded() const { return !data_.empty(); }

    const VS_FIXEDFILEINFO* Fixed()
    {
        void* block = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), L"\\", &block, &length) || length < sizeof(VS_FIXEDFILEINFO))
            return nullptr;
        return static_cast<const VS_FIXEDFILEINFO*>(block);
    }

    // The first entry of the translation table: language and code page.
    bool Translation(WORD& language, WORD& codePage)
    {
        void* block = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &block, &length) || length < 4)
            return false;
        language = static_cast<const WORD*>(block)[0];
        codePage = static_cast<const WORD*>(block)[1];
        return true;
    }

    // A string of the block the translation table names; "<missing>" when absent.
    std::wstring String(const wchar_t* name)
    {
        WORD language = 0, codePage = 0;
        if (!Translation(language, codePage))
            return L"<no translation>";
        wchar_t query[128] = {};
        swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", language, codePage, name);
        void* block = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), query, &block, &length) || !block)
            return L"<missing>";
        return std::wstring(static_cast<const wchar_t*>(block));
    }

private:
    std::vector<BYTE> data_;
};

struct Dll {
    const wchar_t* file;
    const wchar_t* internalName;
};

const Dll kDlls[] = {
    {L"zelcrypto.dll", L"zelcrypto"},
    {L"zelblob.dll", L"zelblob"},
};

// The build's version as four numbers (ZEL_VERSION_FULL, e.g. "2.0.0.0").
bool ExpectedVersion(WORD parts[4])
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (sscanf(ZEL_VERSION_FULL, "%u.%u.%u.%u", &a, &b, &c, &d) != 4)
        return false;
    parts[0] = WORD(a), parts[1] = WORD(b), parts[2] = WORD(c), parts[3] = WORD(d);
    return true;
}

TEST(VersionResource, FixedPartCarriesTheBuildsVersion)
{
    WORD expected[4] = {};
    ASSERT_TRUE(ExpectedVersion(expected)) << ZEL_VERSION_FULL;
    const DWORD ms = MAKELONG(expected[1], expected[0]), ls = MAKELONG(expected[3], expected[2]);
    for (const Dll& dll : kDlls) {
        SCOPED_TRACE(Narrow(dll.file));
        VersionInfo info(ModuleDir() + dll.file);
        ASSERT_TRUE(info.Loaded()) << "GetFileVersionInfo failed: " << GetLastError();
        const VS_FIXEDFILEINFO* fixed = info.Fixed();
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, ms);
        EXPECT_EQ(fixed->dwFileVersionLS, ls);
        EXPECT_EQ(fixed->dwProductVersionMS, ms);
        EXPECT_EQ(fixed->dwProductVersionLS, ls);
        EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
        EXPECT_EQ(fixed->dwFileOS, DWORD(VOS_NT_WINDOWS32));
        // Neither a debug nor a pre-release build.
        EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
    }
}

TEST(VersionResource, StringsForExplorersPropertiesPage)
{
    const std::wstring version = Widen(ZEL_VERSION_FULL);
    for (const Dll& dll : kDlls) {
        SCOPED_TRACE(Narrow(dll.file));
        VersionInfo info(ModuleDir() + dll.file);
        ASSERT_TRUE(info.Loaded()) << "GetFileVersionInfo failed: " << GetLastError();
        WORD language = 0, codePage = 0;
        ASSERT_TRUE(info.Translation(language, codePage));
        EXPECT_EQ(language, 0x0409);   // English (United States)
        EXPECT_EQ(codePage, 1200);     // Unicode
        const struct {
            const wchar_t* name;
            std::wstring value;
        } exact[] = {
            {L"CompanyName", L"Valdergast"},
            {L"ProductName", L"ZELCrypto"},
            {L"FileVersion", version},
            {L"ProductVersion", version},
            {L"OriginalFilename", dll.file},
            {L"InternalName", dll.internalName},
        };
        for (const auto& row : exact)
            EXPECT_EQ(Narrow(info.String(row.name)), Narrow(row.value)) << Narrow(row.name);

        const std::wstring description = info.String(L"FileDescription");
        EXPECT_TRUE(!description.empty() && description[0] != L'<') << Narrow(description);
        const std::wstring copyright = info.String(L"LegalCopyright");
        EXPECT_NE(copyright.find(L"Copyright"), std::wstring::npos) << Narrow(copyright);
        EXPECT_NE(copyright.find(L"Valdergast"), std::wstring::npos) << Narrow(copyright);
    }
    // Each DLL says what it is, in its own words.
    VersionInfo crypto(ModuleDir() + kDlls[0].file), blob(ModuleDir() + kDlls[1].file);
    EXPECT_NE(crypto.String(L"FileDescription"), blob.String(L"FileDescription"));
}

} // namespace
