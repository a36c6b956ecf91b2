#include "platform/profile.h"

#include "platform/text_encoding.h"
#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace vantrel::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::Sandbox;

// Marks a table row whose settings file does not exist.
const std::string kNoFile = "<no file>";

std::string repeat(std::string_view piece, std::size_t count) {
    std::string out;
    out.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i) {
        out += piece;
    }
    return out;
}

std::set<std::string> entriesOf(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

fs::perms permsOf(const fs::path& file) {
    return fs::status(file).permissions() & fs::perms::mask;
}

// ---------------------------------------------------------------------------------------------
// Reading

struct ReadCase {
    std::string name;
    std::string file; // bytes of boot.ini, or kNoFile
    std::string section;
    std::string key;
    std::string defaultValue;
    std::string expected;
    friend void PrintTo(const ReadCase& row, std::ostream* out) { *out << row.name; }
};

std::vector<ReadCase> readCases() {
    const std::string gbkSettings = "[\xC9\xE8\xD6\xC3]\r\n\xC9\xA8\xC3\xE8=\xB8\xB4\xD3\xA1\r\n";
    return {
        {"MissingFileGivesDefault", kNoFile, "s", "k", "dflt", "dflt"},
        {"MissingSectionGivesDefault", "[t]\r\nk=v\r\n", "s", "k", "dflt", "dflt"},
        {"MissingKeyGivesDefault", "[s]\r\nother=v\r\n", "s", "k", "dflt", "dflt"},
        {"DefaultLosesTrailingBlanksOnly", kNoFile, "s", "k", "  d f \t ", "  d f"},
        {"NamesIgnoreAsciiCase", "[SeTuP]\r\nKeY=v\r\n", "setup", "kEy", "", "v"},
        {"NamesIgnoreSurroundingBlanks", "  [ s\t]  \r\n\t k  =v\r\n", "s  ", "k\t", "", "v"},
        {"LeadingControlsOfNamesSkipped", "[s]\r\nk=v\r\n", "\x01\t s", "\x1f k", "", "v"},
        {"FirstKeyWins", "[s]\nk=1\nK=2\n", "s", "k", "", "1"},
        {"OnlyFirstMatchingSectionSearched", "[s]\na=1\n[t]\nb=2\n[S]\nb=3\n", "s", "b", "d", "d"},
        {"KeysBeforeAnySectionIgnored", "k=1\n[s]\n", "s", "k", "d", "d"},
        {"CommentLinesAreNoKeys", "[s]\n;k=1\n  ;k=2\n", "s", "k", "d", "d"},
        {"ValueLosesSurroundingBlanks", "[s]\nk= \t v w \t\n", "s", "k", "", "v w"},
        {"ValueMayHoldEquals", "[s]\nk=a=b\n", "s", "k", "", "a=b"},
        {"EmptyValueIsNotDefault", "[s]\nk=\n", "s", "k", "d", ""},
        {"DoubleQuotesRemoved", "[s]\nk= \" v \" \n", "s", "k", "", " v "},
        {"SingleQuotesRemoved", "[s]\nk='v'\n", "s", "k", "", "v"},
        {"UnmatchedQuotesKept", "[s]\nk=\"v'\n", "s", "k", "", "\"v'"},
        {"OnlyOnePairOfQuotesRemoved", "[s]\nk=\"\"v\"\"\n", "s", "k", "", "\"v\""},
        {"LoneQuoteKept", "[s]\nk=\"\n", "s", "k", "", "\""},
        {"AsciiValueCutToLimit", "[s]\nk=" + repeat("a", 12000) + "\n", "s", "k", "",
         repeat("a", kProfileValueLimit)},
        {"AsciiValueAtLimitKept", "[s]\nk=" + repeat("a", kProfileValueLimit) + "\n", "s", "k", "",
         repeat("a", kProfileValueLimit)},
        {"QuotesRemovedBeforeCut", "[s]\nk=\"" + repeat("a", kProfileValueLimit) + "\"\n", "s", "k",
         "", repeat("a", kProfileValueLimit)},
        // 设 is C9 E8: byte 10239 would be the first half of a character, so it goes.
        {"MultibyteValueCutBeforeCharacter", "[s]\nk=" + repeat("\xC9\xE8", 6000) + "\n", "s", "k",
         "", repeat("设", kProfileValueLimit / 2)},
        {"GbkFileReads", gbkSettings, "设置", "扫描", "", "复印"},
        {"GbkTrailBracketsAreNoBrackets", "[\x9B\x5D]\r\n\x93\x5D=\x8E\x5B\r\n", "沒", "揮", "",
         "嶽"},
        // Text after the header ends in 沒 (9B 5D): its trail byte is no closing bracket.
        {"GbkTrailBracketAfterHeader", "[s] \x9B\x5D\r\nk=v\r\n", "s", "k", "", "v"},
        // 丄 is 81 41 and 乤 is 81 61: the trail bytes look like 'A' and 'a'.
        {"GbkTrailBytesNotCaseFolded", "[s]\r\n\x81\x41=1\r\n", "s", "乤", "d", "d"},
        {"GbkKeyMatches", "[s]\r\n\x81\x41=1\r\n", "s", "丄", "d", "1"},
        {"Utf8BomFileReadsAsUtf8", "\xEF\xBB\xBF[设置]\r\n扫描=复印\r\n", "设置", "扫描", "",
         "复印"},
        {"InvalidBytesBecomeReplacement", "[s]\nk=a\xFF\x62\n", "s", "k", "", "a\uFFFDb"},
        {"LoneLeadByteAtEndOfFile", "[s]\nk=\xC9", "s", "k", "", "\uFFFD"},
        {"NulEndsValue", "[s]\nk=a\0b\nm=2\n"s, "s", "k", "", "a"},
        {"NulBytesElsewhereHarmless", "\0\0\n[s]\n\0=\0\nm=2"s, "s", "m", "", "2"},
        {"CrOnlyLineBreaks", "[s]\ra=1\rb=2", "s", "b", "", "2"},
        {"MixedLineBreaks", "[s]\r\na=1\nb=2\r\rc=3", "s", "c", "", "3"},
        {"JunkLinesSkipped", "\x80\xFF[\x81\n]junk\r\n[s]x\nk=v\n", "s", "k", "", "v"},
    };
}

class ReadTable : public ::testing::TestWithParam<ReadCase> {
protected:
    Sandbox box;
};

TEST_P(ReadTable, GivesValueOrDefault) {
    const ReadCase& row = GetParam();
    const fs::path file = box / "boot.ini";
    if (row.file != kNoFile) {
        box.write("boot.ini", row.file);
    }
    EXPECT_EQ(readProfileString(file, row.section, row.key, row.defaultValue), row.expected);
    if (row.file == kNoFile) {
        EXPECT_FALSE(fs::exists(file)) << "a read must not create the file";
    }
}

INSTANTIATE_TEST_SUITE_P(Profile, ReadTable, ::testing::ValuesIn(readCases()),
                         [](const auto& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------------------
// Names that are empty once leading blanks and control characters are skipped: a read gives the
// empty text even with a default, a write does nothing.

struct EmptyNameCase {
    std::string name;
    std::string path; // "$F" stands for the real file
    std::string section;
    std::string key;
    bool empty;
    friend void PrintTo(const EmptyNameCase& row, std::ostream* out) { *out << row.name; }
};

class EmptyNameTable : public ::testing::TestWithParam<EmptyNameCase> {
protected:
    Sandbox box;
};

TEST_P(EmptyNameTable, ReadGivesEmptyTextAndWriteDoesNothing) {
    const EmptyNameCase& row = GetParam();
    const std::string before = "[s]\r\nk=v\r\n";
    const fs::path file = box.write("boot.ini", before);
    std::string path = row.path;
    if (const auto at = path.find("$F"); at != std::string::npos) {
        path.replace(at, 2, file.string());
    }

    EXPECT_EQ(readProfileString(path, row.section, row.key, "dflt"), row.empty ? "" : "v");
    EXPECT_EQ(writeProfileString(path, row.section, row.key, "new"), !row.empty);
    EXPECT_EQ(Sandbox::read(file), row.empty ? before : "[s]\r\nk=new\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Profile, EmptyNameTable,
    ::testing::Values(EmptyNameCase{"EmptyPath", "", "s", "k", true},
                      EmptyNameCase{"BlankPath", " \t\x01", "s", "k", true},
                      EmptyNameCase{"EmptySection", "$F", "", "k", true},
                      EmptyNameCase{"BlankSection", "$F", " \t\x02", "k", true},
                      EmptyNameCase{"EmptyKey", "$F", "s", "", true},
                      EmptyNameCase{"ControlKey", "$F", "s", "\x7f\x1b", true},
                      EmptyNameCase{"PathLeadingBlanksSkipped", " \x01$F", "s", "k", false}),
    [](const auto& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------------------
// Writing: the whole file afterwards, byte for byte.

struct WriteCase {
    std::string name;
    std::string before; // or kNoFile
    std::string section;
    std::string key;
    std::string value;
    std::string after;
    friend void PrintTo(const WriteCase& row, std::ostream* out) { *out << row.name; }
};

std::vector<WriteCase> writeCases() {
    return {
        {"NewFileIsGb18030WithCrlf", kNoFile, "设置", "扫描", "复印",
         "[\xC9\xE8\xD6\xC3]\r\n\xC9\xA8\xC3\xE8=\xB8\xB4\xD3\xA1\r\n"},
        {"CharacterOutsideGbkStoredInFourBytes", kNoFile, "s", "k", "\U00020000",
         "[s]\r\nk=\x95\x32\x82\x36\r\n"},
        {"EmptyFileGetsCrlf", "", "s", "k", "v", "[s]\r\nk=v\r\n"},
        {"ReplacesValueInPlace", "[s]\r\na=1\r\nb=2\r\n", "s", "a", "9", "[s]\r\na=9\r\nb=2\r\n"},
        {"ReplaceKeepsKeySpelling", "[S]\nKey = old  \n", "s", "key", "new", "[S]\nKey =new\n"},
        {"ReplacesFirstKeyOfFirstSection", "[s]\nk=1\nk=2\n[s]\nk=3\n", "s", "k", "9",
         "[s]\nk=9\nk=2\n[s]\nk=3\n"},
        {"AppendsAfterLastKeyOfSection", "[s]\na=1\n\n; note\n[t]\nb=1\n", "s", "c", "3",
         "[s]\na=1\nc=3\n\n; note\n[t]\nb=1\n"},
        {"AppendsToSectionWithoutKeys", "[s]\r\n[t]\r\n", "s", "c", "3", "[s]\r\nc=3\r\n[t]\r\n"},
        {"AppendsAfterLastLineWithoutBreak", "[s]\na=1", "s", "c", "3", "[s]\na=1\nc=3\n"},
        {"AppendsNewSectionAtEnd", "[t]\nb=1\n", "s", "c", "3", "[t]\nb=1\n[s]\nc=3\n"},
        {"NewSectionAfterLineWithoutBreak", "[t]\nb=1", "s", "c", "3", "[t]\nb=1\n[s]\nc=3\n"},
        {"FirstLineBreakSetsStyle", "[s]\r\na=1\nb=2\n", "s", "c", "3", "[s]\r\na=1\nb=2\nc=3\r\n"},
        {"OtherBytesKept", "\xFF\x80junk\0\r\n;c\r\n[t]\r\nx = \"q\" \r\n[s]\r\na=1\r\n\r\n"s, "s",
         "a", "2", "\xFF\x80junk\0\r\n;c\r\n[t]\r\nx = \"q\" \r\n[s]\r\na=2\r\n\r\n"s},
        {"ValueLosesLeadingBlanksOnly", kNoFile, "s", "k", " \t v w ", "[s]\r\nk=v w \r\n"},
        {"NamesWrittenTrimmed", kNoFile, "  s  ", " k\t", "v", "[s]\r\nk=v\r\n"},
        {"EmptyValue", "[s]\nk=v\n", "s", "k", "", "[s]\nk=\n"},
        {"GbkTrailBracketsAreNoBrackets", "[\x9B\x5D]\r\n\x93\x5D=1\r\n", "沒", "揮", "2",
         "[\x9B\x5D]\r\n\x93\x5D=2\r\n"},
        {"Utf8BomFileStaysUtf8", "\xEF\xBB\xBF[设置]\r\n扫描=旧\r\n", "设置", "打印", "新",
         "\xEF\xBB\xBF[设置]\r\n扫描=旧\r\n打印=新\r\n"},
        {"Utf8BomOnlyFile", "\xEF\xBB\xBF", "s", "k", "新", "\xEF\xBB\xBF[s]\r\nk=新\r\n"},
    };
}

class WriteTable : public ::testing::TestWithParam<WriteCase> {
protected:
    Sandbox box;
};

TEST_P(WriteTable, ChangesOnlyTheEntry) {
    const WriteCase& row = GetParam();
    const fs::path file = box / "boot.ini";
    if (row.before != kNoFile) {
        box.write("boot.ini", row.before);
    }
    ASSERT_TRUE(writeProfileString(file, row.section, row.key, row.value));
    EXPECT_EQ(Sandbox::read(file), row.after);
    EXPECT_EQ(entriesOf(box.path()), std::set<std::string>{"boot.ini"}) << "temporary file left";
}

INSTANTIATE_TEST_SUITE_P(Profile, WriteTable, ::testing::ValuesIn(writeCases()),
                         [](const auto& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------------------
// Writes refused because of their text: false, and the file (or its absence) stays as it was.

struct RefusedCase {
    std::string name;
    std::string section;
    std::string key;
    std::string value;
    friend void PrintTo(const RefusedCase& row, std::ostream* out) { *out << row.name; }
};

class RefusedWriteTable : public ::testing::TestWithParam<RefusedCase> {
protected:
    Sandbox box;
};

TEST_P(RefusedWriteTable, KeepsFile) {
    const RefusedCase& row = GetParam();
    const std::string before = "[s]\r\nk=v\r\n";
    const fs::path file = box.write("boot.ini", before);
    EXPECT_FALSE(writeProfileString(file, row.section, row.key, row.value));
    EXPECT_EQ(Sandbox::read(file), before);

    const fs::path missing = box / "new.ini";
    EXPECT_FALSE(writeProfileString(missing, row.section, row.key, row.value));
    EXPECT_FALSE(fs::exists(missing));
}

INSTANTIATE_TEST_SUITE_P(Profile, RefusedWriteTable,
                         ::testing::Values(RefusedCase{"CrInValue", "s", "k", "a\rb"},
                                           RefusedCase{"LfInValue", "s", "k", "a\n[x]\ny=1"},
                                           RefusedCase{"CrLfInSection", "s]\r\n[t", "k", "v"},
                                           RefusedCase{"LfInKey", "s", "k\nj", "v"},
                                           RefusedCase{"NulInValue", "s", "k", "a\0b"s},
                                           RefusedCase{"EqualsInKey", "s", "k=j", "v"},
                                           RefusedCase{"KeyStartsComment", "s", ";k", "v"},
                                           RefusedCase{"KeyStartsSection", "s", "[k", "v"},
                                           RefusedCase{"InvalidUtf8Value", "s", "k", "a\xFF"}),
                         [](const auto& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------------------
// Encoding and odd content

class ProfileFile : public ::testing::Test {
protected:
    Sandbox box;
    fs::path file = box / "boot.ini";
};

TEST_F(ProfileFile, CharacterOutsideGbkRoundTrips) {
    const std::string text = "扫描\U00020000€";
    ASSERT_TRUE(writeProfileString(file, "设置", "名称", text));
    EXPECT_EQ(readProfileString(file, "设置", "名称", ""), text);
    EXPECT_EQ(Sandbox::read(file).find("\xEF"), std::string::npos) << "no UTF-8 on disk";
}

TEST_F(ProfileFile, HugeLineReadCutAndKeptOnRewrite) {
    const std::string big = repeat("\xC9\xE8", 512 * 1024); // 1 MiB of 设
    const std::string before = "[s]\r\nbig=" + big + "\r\nk=v\r\n";
    box.write("boot.ini", before);

    EXPECT_EQ(readProfileString(file, "s", "big", ""), repeat("设", kProfileValueLimit / 2));
    EXPECT_EQ(readProfileString(file, "s", "k", ""), "v");
    ASSERT_TRUE(writeProfileString(file, "s", "k", "w"));
    EXPECT_EQ(Sandbox::read(file), "[s]\r\nbig=" + big + "\r\nk=w\r\n");
}

// Random bytes in any amount: reads give valid UTF-8 and a write keeps every byte of the junk.
TEST_F(ProfileFile, RandomJunkNeverLost) {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (int round = 0; round < 20; ++round) {
        std::string junk(static_cast<std::size_t>(round) * 997 + 1, '\0');
        for (char& c : junk) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            const auto byte = static_cast<unsigned char>(state >> 56);
            // Plenty of the bytes that matter to the parser.
            constexpr std::string_view special = "[]=;\r\n \"'\x81\xC9";
            c = byte < 64 ? special[byte % special.size()] : static_cast<char>(byte);
        }
        box.write("boot.ini", junk);
        for (const char* key : {"k", "a", "\x81"}) {
            const std::string value = readProfileString(file, "s", key, "d");
            EXPECT_TRUE(isValidUtf8(value)) << "round " << round;
            EXPECT_LE(value.size(), 3 * kProfileValueLimit);
        }
        ASSERT_TRUE(writeProfileString(file, "设置", "扫描", "复印")) << "round " << round;
        EXPECT_TRUE(Sandbox::read(file).starts_with(junk)) << "round " << round;
        EXPECT_EQ(readProfileString(file, "设置", "扫描", ""), "复印") << "round " << round;
    }
}

TEST_F(ProfileFile, NothingCached) {
    box.write("boot.ini", "[s]\nk=1\n");
    EXPECT_EQ(readProfileString(file, "s", "k", ""), "1");
    box.write("boot.ini", "[s]\nk=2\n");
    EXPECT_EQ(readProfileString(file, "s", "k", ""), "2");
    ASSERT_TRUE(writeProfileString(file, "s", "j", "3"));
    EXPECT_EQ(Sandbox::read(file), "[s]\nk=2\nj=3\n");
}

// ---------------------------------------------------------------------------------------------
// Files that must not or cannot be replaced

TEST_F(ProfileFile, ReadOnlyFileKept) {
    const std::string before = "[s]\r\nk=v\r\n";
    box.write("boot.ini", before);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    EXPECT_FALSE(writeProfileString(file, "s", "k", "w"));
    EXPECT_FALSE(writeProfileString(file, "t", "k", "w"));
    EXPECT_EQ(Sandbox::read(file), before);
    EXPECT_EQ(permsOf(file), fs::perms(0444));
    EXPECT_EQ(readProfileString(file, "s", "k", ""), "v");
    EXPECT_EQ(entriesOf(box.path()), std::set<std::string>{"boot.ini"});
}

TEST_F(ProfileFile, UnwritableFolderKept) {
    const fs::path folder = box / "locked";
    fs::create_directory(folder);
    const std::string before = "[s]\r\nk=v\r\n";
    box.write("locked/boot.ini", before);
    fs::permissions(folder, fs::perms(0555));

    EXPECT_FALSE(writeProfileString(folder / "boot.ini", "s", "k", "w"));
    EXPECT_FALSE(writeProfileString(folder / "new.ini", "s", "k", "w"));
    EXPECT_EQ(Sandbox::read(folder / "boot.ini"), before);
    EXPECT_EQ(entriesOf(folder), std::set<std::string>{"boot.ini"});
}

TEST_F(ProfileFile, FolderInPlaceOfFileKept) {
    fs::create_directory(file);
    EXPECT_EQ(readProfileString(file, "s", "k", "d"), "d");
    EXPECT_FALSE(writeProfileString(file, "s", "k", "v"));
    EXPECT_TRUE(fs::is_directory(file));
}

TEST_F(ProfileFile, SymlinkWrittenThroughToTarget) {
    fs::create_directory(box / "real");
    const fs::path target = box.write("real/settings.ini", "[s]\r\nk=v\r\n");
    fs::create_symlink("real/settings.ini", file);

    ASSERT_TRUE(writeProfileString(file, "s", "k", "w"));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(Sandbox::read(target), "[s]\r\nk=w\r\n");
    EXPECT_EQ(readProfileString(file, "s", "k", ""), "w");
    EXPECT_EQ(entriesOf(box / "real"), std::set<std::string>{"settings.ini"});
}

TEST_F(ProfileFile, PermissionBitsKept) {
    box.write("boot.ini", "[s]\nk=v\n");
    fs::permissions(file, fs::perms(0640));
    ASSERT_TRUE(writeProfileString(file, "s", "k", "w"));
    EXPECT_EQ(permsOf(file), fs::perms(0640));
}

} // namespace
} // namespace vantrel::platform
