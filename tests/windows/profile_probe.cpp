// Runs one table of profile-function calls (GetPrivateProfileStringW, GetPrivateProfileIntW,
// WritePrivateProfileStringW) against prepared INI files and writes a plain-ASCII report of
// every answer and of every file's bytes afterwards. The same source is built for Windows
// (run under wine64) and against the Linux platform; run-windows-tests.sh compares the two
// reports, so any difference is a place where the Linux platform does not behave like
// Windows.
//
// Usage: profile_probe REPORT   (run in an empty directory: it creates probe_NN.ini files)
#include <windows.h>

#include "../support/ProfileCases.h"

#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

// A wide argument that may also be NULL.
struct Arg {
    bool null = false;
    std::u16string text;
};

Arg Null() {
    Arg arg;
    arg.null = true;
    return arg;
}
Arg A(const std::u16string& text) {
    Arg arg;
    arg.text = text;
    return arg;
}

const WCHAR* W(const Arg& arg) {
    return arg.null ? nullptr : reinterpret_cast<const WCHAR*>(arg.text.c_str());
}

enum class Op { Read, ReadInt, Write };

struct Step {
    Op op;
    Arg section;
    Arg key;
    Arg text;       // the default of a read, the value of a write
    int number = 0; // the buffer size of a read, the default of an integer read
};

Step Read(Arg section, Arg key, Arg fallback, int size) {
    return Step{Op::Read, section, key, fallback, size};
}
Step ReadInt(Arg section, Arg key, int fallback) {
    return Step{Op::ReadInt, section, key, A(u""), fallback};
}
Step Write(Arg section, Arg key, Arg value) {
    return Step{Op::Write, section, key, value, 0};
}

struct Case {
    const char* name;
    bool absent; // no file before the steps
    std::string bytes;
    std::vector<Step> steps;
    // Set where Wine is known to answer differently from Windows: the case is kept out of
    // the comparison with Wine, and the Linux answer is held against the Windows answer
    // recorded in profile_windows_answers.txt instead.
    const char* windowsOnly = nullptr;
    bool readOnly = false; // the file is made read-only before the steps
};

// The read-only attribute on Windows, a file without write bits on Linux.
void MakeReadOnly(const char* name, bool readOnly) {
#ifdef _WIN32
    _chmod(name, readOnly ? _S_IREAD : _S_IREAD | _S_IWRITE);
#else
    chmod(name, readOnly ? S_IRUSR | S_IRGRP : S_IRUSR | S_IWUSR | S_IRGRP);
#endif
}

template <size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

using velmora::test::Utf16Bytes;

// --------------------------------------------------------------------------- the report

std::string Escape(const std::u16string& text) {
    std::string out;
    char hex[16];
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
            out += hex;
        }
    }
    return out;
}

std::string EscapeBytes(const std::string& bytes) {
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
        // One report line per file line keeps the differences readable.
        if (c == '\n')
            out += "\n       ";
    }
    return out;
}

std::string Show(const Arg& arg) {
    if (arg.null)
        return "NULL";
    if (arg.text.size() > 40)
        return "\"" + Escape(arg.text.substr(0, 12)) + "...(" + std::to_string(arg.text.size()) +
               ")\"";
    return "\"" + Escape(arg.text) + "\"";
}

bool ReadFileBytes(const char* name, std::string* bytes) {
    FILE* file = fopen(name, "rb");
    if (!file)
        return false;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->append(chunk, got);
    fclose(file);
    return true;
}

std::u16string CurrentDirectory() {
    WCHAR buffer[MAX_PATH + 1];
    memset(buffer, 0, sizeof buffer);
    GetCurrentDirectoryW(MAX_PATH, buffer);
    std::u16string directory;
    for (const WCHAR* p = buffer; *p; ++p)
        directory.push_back(static_cast<char16_t>(*p));
    return directory;
}

std::string RunCase(const Case& probe, int index) {
    char fileName[32];
    snprintf(fileName, sizeof fileName, "probe_%02d.ini", index);
    // A file of its own for each case: no cached copy of an earlier case can answer.
    remove(fileName);
    if (!probe.absent) {
        FILE* file = fopen(fileName, "wb");
        if (!file || fwrite(probe.bytes.data(), 1, probe.bytes.size(), file) != probe.bytes.size())
            return std::string("cannot write ") + fileName + "\n";
        fclose(file);
        if (probe.readOnly)
            MakeReadOnly(fileName, true);
    }
    std::u16string path = CurrentDirectory() + u"\\";
    for (const char* p = fileName; *p; ++p)
        path.push_back(static_cast<char16_t>(*p));
    const WCHAR* widePath = reinterpret_cast<const WCHAR*>(path.c_str());

    std::string report =
        std::string("case ") + probe.name + (probe.windowsOnly ? " (windows-only)\n" : "\n");
    for (const Step& step : probe.steps) {
        std::string line;
        switch (step.op) {
        case Op::Read: {
            // The fill shows how far the call wrote past its terminator.
            std::vector<WCHAR> buffer(static_cast<size_t>(step.number) + 2, 0xCCCC);
            DWORD got =
                GetPrivateProfileStringW(W(step.section), W(step.key), W(step.text), buffer.data(),
                                         static_cast<DWORD>(step.number), widePath);
            // The text and its terminator.
            size_t wanted = got + 1;
            size_t shown = wanted < static_cast<size_t>(step.number) ? wanted : step.number;
            std::u16string text;
            for (size_t i = 0; i < shown; ++i)
                text.push_back(static_cast<char16_t>(buffer[i]));
            line = "  read " + Show(step.section) + " " + Show(step.key) + " " + Show(step.text) +
                   " size " + std::to_string(step.number) + " -> " + std::to_string(got) + " \"" +
                   Escape(text) + "\"";
            break;
        }
        case Op::ReadInt: {
            UINT got = GetPrivateProfileIntW(W(step.section), W(step.key), step.number, widePath);
            line = "  int " + Show(step.section) + " " + Show(step.key) + " " +
                   std::to_string(step.number) + " -> " + std::to_string(got);
            break;
        }
        case Op::Write: {
            BOOL ok =
                WritePrivateProfileStringW(W(step.section), W(step.key), W(step.text), widePath);
            line = "  write " + Show(step.section) + " " + Show(step.key) + " " + Show(step.text) +
                   " -> " + (ok ? "TRUE" : "FALSE");
            break;
        }
        }
        report += line + "\n";
    }
    std::string bytes;
    if (ReadFileBytes(fileName, &bytes))
        report += "  file " + EscapeBytes(bytes) + "\n";
    else
        report += "  file absent\n";
    if (probe.readOnly)
        MakeReadOnly(fileName, false);
    return report;
}

// --------------------------------------------------------------------------- the table

const Arg kSection = A(u"VelmoraPlayer");
// The steps most cases take, in the program's own section: a read into the program's
// 1024-character buffer, an integer read and a write.
Step R(const std::u16string& key, const std::u16string& fallback = u"", int size = 1024) {
    return Read(kSection, A(key), A(fallback), size);
}
Step RI(const std::u16string& key, int fallback) {
    return ReadInt(kSection, A(key), fallback);
}
Step Wr(const std::u16string& key, const std::u16string& value) {
    return Write(kSection, A(key), A(value));
}
Case File(const char* name, const std::string& bytes, std::vector<Step> steps,
          const char* windowsOnly = nullptr, bool readOnly = false) {
    return Case{name, false, bytes, std::move(steps), windowsOnly, readOnly};
}
Case NoFile(const char* name, std::vector<Step> steps) {
    return Case{name, true, std::string(), std::move(steps)};
}

std::vector<Case> Table() {
    std::vector<Case> cases;
    const std::u16string long1023(1023, u'a'), long1024(1024, u'b'), long1100(1100, u'c');

    // Blanks around names and values and quotes, beyond the shared read cases.
    cases.push_back(
        File("names-blanks-quotes",
             Bytes("[VelmoraPlayer]\r\n"
                   "Title=abc\r\n"
                   "  Spaced  =  value with blanks  \r\n"
                   "\tTabbed\t=\tx\t\r\n"
                   "Quoted=\"quoted value\"\r\n"
                   "Half=\"half\r\n"
                   "Inner=a \"b\" c\r\n"
                   "Padded=  \"padded\"  \r\n"),
             {Read(A(u"  VelmoraPlayer  "), A(u"  Title  "), A(u""), 1024), R(u"Spaced"),
              R(u"Tabbed"), R(u"Half"), R(u"Inner"), R(u"Padded"), R(u"Quoted", u"", 6)}));

    // Defaults beyond the shared read cases: a blank value, blanks around the default, a cut
    // default, the empty key name (which finds a line "=value"), integers of odd lines.
    cases.push_back(File("defaults-and-empty",
                         Bytes("[VelmoraPlayer]\r\n"
                               "Empty=\r\n"
                               "Blank=   \r\n"
                               "NoEquals\r\n"
                               "=nameless\r\n"),
                         {R(u"Blank", u"def"), R(u"Absent", u"  def  "), R(u"", u"def"),
                          R(u"Absent", u"defaultvalue", 5), RI(u"Empty", 5), RI(u"Blank", 5),
                          RI(u"NoEquals", 5), RI(u"Absent", -3)}));

    // Numbers: the integer cases the unit test checks, each under a key of its own.
    {
        Case integers{"integers", false, "[VelmoraPlayer]\r\n", {}};
        for (const velmora::test::IntegerCase& c : velmora::test::kIntegerCases) {
            const std::string key = "N" + std::to_string(integers.steps.size());
            if (c.value)
                integers.bytes += key + "=" + c.value + "\r\n";
            integers.steps.push_back(
                ReadInt(kSection, A(std::u16string(key.begin(), key.end())), c.fallback));
        }
        cases.push_back(integers);
    }

    // Reads the unit test checks, each on a file of its own.
    for (const velmora::test::ReadCase& c : velmora::test::kReadCases) {
        using velmora::test::Utf16Of;
        cases.push_back({c.name,
                         false,
                         c.file,
                         {Read(A(Utf16Of(c.section)), A(Utf16Of(c.key)),
                               c.fallback ? A(Utf16Of(c.fallback)) : Null(), 1024)},
                         c.windowsOnly});
    }

    // Writes the unit test checks: the report shows the file they leave.
    for (const velmora::test::WriteCase& c : velmora::test::kWriteCases) {
        using velmora::test::Utf16Of;
        Case probe{c.name, c.before == nullptr, c.before ? c.before : "", {}, c.windowsOnly};
        for (const velmora::test::Edit& e : c.edits)
            probe.steps.push_back(
                Write(A(Utf16Of(e.section)), A(Utf16Of(e.key)), A(Utf16Of(e.value))));
        cases.push_back(probe);
    }

    // Long values read into the program's 1024-character buffer and larger ones.
    {
        std::string bytes = "[VelmoraPlayer]\r\nL1023=";
        bytes += std::string(1023, 'a') + "\r\nL1024=" + std::string(1024, 'b') +
                 "\r\nL1100=" + std::string(1100, 'c') + "\r\nAfter=ok\r\n";
        cases.push_back(File("long-values", bytes,
                             {R(u"L1023"), R(u"L1024"), R(u"L1100"), R(u"L1100", u"", 4096),
                              R(u"After"), R(u"L1023", u"", 1), R(u"L1023", u"", 2)}));
        cases.push_back(NoFile("long-writes", {Wr(u"L1023", long1023), Wr(u"L1024", long1024),
                                               Wr(u"L1100", long1100), R(u"L1023"), R(u"L1024"),
                                               R(u"L1100", u"", 2048)}));
    }

    // Comments, duplicate keys and sections, keys before any section.
    cases.push_back(File("comments-duplicates",
                         Bytes("Orphan=before any section\r\n"
                               "; a comment\r\n"
                               "[VelmoraPlayer]\r\n"
                               ";Title=commented\r\n"
                               "; second comment\r\n"
                               "#Hash=1\r\n"
                               "Dup=first\r\n"
                               "DUP=second\r\n"
                               "[Other]\r\n"
                               "Key=v\r\n"
                               "[velmoraplayer]\r\n"
                               "Dup=third\r\n"
                               "Late=in the second copy\r\n"),
                         {R(u";Title", u"def"), R(u"Title", u"def"), R(u"#Hash", u"def"), R(u"Dup"),
                          R(u"Late", u"def"), R(u"Orphan", u"def"), Wr(u"Dup", u"written"),
                          Wr(u"Late", u"new"), R(u"Dup")}));

    // Sections whose header is odd.
    cases.push_back(
        {"section-headers",
         false,
         Bytes("[ Spaced ]\r\n"
               "A=1\r\n"
               "[Open\r\n"
               "B=2\r\n"
               "[Tail] junk\r\n"
               "C=3\r\n"),
         {Read(A(u"Spaced"), A(u"A"), A(u"def"), 1024), Read(A(u"Open"), A(u"B"), A(u"def"), 1024),
          Read(A(u"Spaced"), A(u"B"), A(u"def"), 1024),
          Read(A(u"Tail"), A(u"C"), A(u"def"), 1024)}});

    // Files with LF or CR line breaks, read.
    cases.push_back(File("line-breaks-read",
                         Bytes("[VelmoraPlayer]\nList=5\nUpdate=old\n\n[Next]\rKey=cr\rB=2"),
                         {R(u"Update"), Read(A(u"Next"), A(u"Key"), A(u""), 1024),
                          Read(A(u"Next"), A(u"B"), A(u""), 1024), RI(u"List", 0)}));

    // Values written with line breaks in them: the file gets the extra lines.
    cases.push_back(
        File("line-breaks-in-values",
             Bytes("[VelmoraPlayer]\r\nList=5\r\nUpdate=old\r\n[Next]\r\nKey=v\r\n"),
             {Wr(u"Update", u"line one\r\nline two"), R(u"Update"), Wr(u"Added", u"x")}));

    // Values written with white space before them: nothing of it reaches the file.
    cases.push_back(File("leading-line-breaks", Bytes("[VelmoraPlayer]\r\nList=5\r\n"),
                         {Wr(u"List", u"\r\n\t 12"), Wr(u"Lf", u"\nx"),
                          Wr(u"Wide", u"\u3000\u00A0y"), RI(u"List", 0)}));

    // Writes that change nothing.
    cases.push_back(File("unchanged-writes", Bytes("[VelmoraPlayer]\nList=5\nTitle = x \n"),
                         {Wr(u"List", u"5"), Wr(u"title", u" x")}));

    // A file without a final line break, and writes that add to it.
    cases.push_back(File("no-final-break", Bytes("[VelmoraPlayer]\r\nA=1"),
                         {Wr(u"B", u"2"), Write(A(u"New"), A(u"C"), A(u"3")), R(u"A")}));

    // Writes: new and existing keys and sections, names in other cases, quotes and blanks in
    // written names.
    cases.push_back(File("writes",
                         Bytes("; settings\r\n"
                               "[VelmoraPlayer]\r\n"
                               "Title = old title\r\n"
                               "List=1\r\n"
                               "[Other]\r\n"
                               "Key=v\r\n"),
                         {Wr(u"TITLE", u"new"), Wr(u"list", u"2"), Wr(u"Added", u"3"),
                          Write(A(u"Third"), A(u"Quoted"), A(u"\"q\"")),
                          Write(A(u" Spaced "), A(u" Key "), A(u"v")), Wr(u"Empty", u""),
                          Read(A(u"Third"), A(u"Quoted"), A(u""), 1024),
                          Read(A(u"Spaced"), A(u"Key"), A(u""), 1024)}));

    // A written value with blanks around it.
    cases.push_back(File("write-blank-value", Bytes("[Other]\r\nKey=v\r\n"),
                         {Write(A(u"Other"), A(u"Second"), A(u"  padded  ")),
                          Read(A(u"Other"), A(u"Second"), A(u""), 1024)}));

    // The program's own first start: no file, then the eight keys in order.
    cases.push_back(
        NoFile("first-run", {RI(u"List", 0), RI(u"Once", 0), R(u"Title"), Wr(u"Version", u"1.0"),
                             Wr(u"List", u"0"), Wr(u"Last", u"1"), Wr(u"Top", u"1"),
                             Wr(u"Once", u"1"), Wr(u"Title", u""), Wr(u"Update", u""),
                             Write(kSection, A(u"CopyRight"),
                                   A(u"\u300ATessavo\u300B\u5168\u96C6 \u95EE\u9898\u62A5\u544A")),
                             Wr(u"Last", u"1"), R(u"CopyRight")}));

    // An absent file: reads give defaults, a write creates it.
    cases.push_back(
        NoFile("absent-file", {R(u"Title", u"def"), RI(u"List", 7), Wr(u"Title", u"abc")}));

    // The ANSI code page (GBK here): Chinese text in and out, a character it lacks.
    cases.push_back(
        File("ansi-chinese",
             Bytes("[VelmoraPlayer]\r\n"
                   "Update=\xD0\xC2\xB5\xC4\xBE\xE7\xBC\xAF\r\n" // 新的剧集
                   "\xB1\xEA\xCC\xE2=key named in Chinese\r\n"), // 标题
             {R(u"Update"), R(u"\u6807\u9898"), Wr(u"Notice", u"\u5468\u4E94\u66F4\u65B0"),
              Wr(u"Lacking", u"a\u0E01b"), R(u"Lacking")}));

    // Byte-order marks: UTF-16LE and UTF-8 files are read and written in their encoding.
    cases.push_back(File("utf16le-bom",
                         Utf16Bytes(u"[VelmoraPlayer]\r\nTitle=\u6807\u9898\r\nList=12\r\n", true),
                         {R(u"Title"), RI(u"List", 0), Wr(u"Update", u"\u65B0 \u0E01"),
                          Wr(u"List", u"13"), Write(A(u"New"), A(u"K"), A(u"v"))}));
    cases.push_back(File("utf8-bom",
                         Bytes("\xEF\xBB\xBF[VelmoraPlayer]\r\nTitle=\xE6\xA0\x87\xE9\xA2\x98\r\n"),
                         {R(u"Title"), Wr(u"Update", u"\u65B0 \u0E01"), R(u"Update")}));
    cases.push_back(
        {"utf16be-bom",
         false,
         Utf16Bytes(u"[VelmoraPlayer]\r\nTitle=\u6807\u9898\r\nList=12\r\n", true, true),
         {R(u"Title"), RI(u"List", 0), Wr(u"Update", u"\u65B0 \u0E01"), Wr(u"List", u"13")}});
    cases.push_back(File("utf16le-no-bom", Utf16Bytes(u"[VelmoraPlayer]\r\nList=12\r\n", false),
                         {RI(u"List", 5)}));

    // ---- Where Wine is known to differ from Windows.

    // The empty section name finds the "[]" section; Windows answers val_e_section.
    cases.push_back(
        File("empty-section-name",
             Bytes("\r\nkey=val_no_section\r\n[]\r\nkey=val_e_section\r\n[s]\r\nk=v\r\n"),
             {Read(A(u""), A(u"key"), A(u"def"), 1024)}, "Wine answers val_no_section"));

    // Windows edits the file in place: lines a write does not touch stay byte for byte, with
    // their blanks, blank lines, line breaks and even NUL bytes. Wine writes the whole file
    // anew from what it parsed.
    cases.push_back(
        File("untouched-lines-kept",
             Bytes("  ; indented comment\r\n"
                   "[VelmoraPlayer]\r\n"
                   "  Title  =  spaced  \r\n"
                   "List=1\r\n"
                   "[Blank]\r\n"
                   "\r\n"
                   "  A = 1 \r\n"
                   "\r\n"
                   "[Lf]\nB=2\n"
                   "[Other]\r\n"
                   "Key=v\r\n"),
             {Wr(u"List", u"2"), Wr(u"Added", u"3"), Write(A(u"Other"), A(u"New"), A(u"4")),
              Read(A(u"Lf"), A(u"B"), A(u""), 1024)},
             "Wine drops blanks and blank lines and ends every line with CR LF"));
    // A value ending in a line break is written as it is: the line break ends the line and
    // the line's own CR LF follows as an empty line.
    cases.push_back(File("value-ending-in-line-break",
                         Bytes("[VelmoraPlayer]\r\nList=5\r\nUpdate=old\r\n"),
                         {Wr(u"List", u"12\n"), RI(u"List", 0), Wr(u"Added", u"x")},
                         "Wine drops the empty line at its next write"));
    cases.push_back(File("nul-before-first-section", Bytes("Data \0 before \0 first \0 section"),
                         {Write(A(u"section1"), A(u"key1"), A(u"string1"))},
                         "Wine drops the bytes before the first section"));
    // Windows refuses to write a read-only file (a write that changes nothing still
    // succeeds); Wine run as root writes a file without write bits.
    cases.push_back(File("read-only-file", Bytes("[VelmoraPlayer]\r\nList=5\r\n"),
                         {Wr(u"List", u"5"), Wr(u"List", u"6")}, "Wine run as root writes it",
                         true));
    return cases;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: profile_probe REPORT\n");
        return 2;
    }
    // The Linux platform takes its ANSI code page from the locale, as a C program does.
    setlocale(LC_ALL, "");
    std::string report;
    std::vector<Case> cases = Table();
    for (size_t i = 0; i < cases.size(); ++i)
        report += RunCase(cases[i], static_cast<int>(i));
    FILE* out = fopen(argv[1], "wb");
    if (!out || fwrite(report.data(), 1, report.size(), out) != report.size()) {
        fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    fclose(out);
    return 0;
}
