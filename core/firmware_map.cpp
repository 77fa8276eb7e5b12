#include "core/firmware_map.h"

#include "core/library.h"
#include "core/source_info.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>
#include <utility>

namespace voicelib {

namespace {

// C (to C23) and C++ (to C++20) keywords and alternative tokens.
constexpr std::string_view CXX_KEYWORDS[] = {"alignas",
                                             "alignof",
                                             "and",
                                             "and_eq",
                                             "asm",
                                             "auto",
                                             "bitand",
                                             "bitor",
                                             "bool",
                                             "break",
                                             "case",
                                             "catch",
                                             "char",
                                             "char8_t",
                                             "char16_t",
                                             "char32_t",
                                             "class",
                                             "co_await",
                                             "co_return",
                                             "co_yield",
                                             "compl",
                                             "concept",
                                             "const",
                                             "const_cast",
                                             "consteval",
                                             "constexpr",
                                             "constinit",
                                             "continue",
                                             "decltype",
                                             "default",
                                             "delete",
                                             "do",
                                             "double",
                                             "dynamic_cast",
                                             "else",
                                             "enum",
                                             "explicit",
                                             "export",
                                             "extern",
                                             "false",
                                             "float",
                                             "for",
                                             "friend",
                                             "goto",
                                             "if",
                                             "inline",
                                             "int",
                                             "long",
                                             "mutable",
                                             "namespace",
                                             "new",
                                             "noexcept",
                                             "not",
                                             "not_eq",
                                             "nullptr",
                                             "operator",
                                             "or",
                                             "or_eq",
                                             "private",
                                             "protected",
                                             "public",
                                             "register",
                                             "reinterpret_cast",
                                             "requires",
                                             "restrict",
                                             "return",
                                             "short",
                                             "signed",
                                             "sizeof",
                                             "static",
                                             "static_assert",
                                             "static_cast",
                                             "struct",
                                             "switch",
                                             "template",
                                             "this",
                                             "thread_local",
                                             "throw",
                                             "true",
                                             "try",
                                             "typedef",
                                             "typeid",
                                             "typename",
                                             "typeof",
                                             "typeof_unqual",
                                             "union",
                                             "unsigned",
                                             "using",
                                             "virtual",
                                             "void",
                                             "volatile",
                                             "wchar_t",
                                             "while",
                                             "xor",
                                             "xor_eq",
                                             "_Alignas",
                                             "_Alignof",
                                             "_Atomic",
                                             "_BitInt",
                                             "_Bool",
                                             "_Complex",
                                             "_Decimal128",
                                             "_Decimal32",
                                             "_Decimal64",
                                             "_Generic",
                                             "_Imaginary",
                                             "_Noreturn",
                                             "_Static_assert",
                                             "_Thread_local"};

// Macros the header's own #include <stdint.h> defines, and the names the C
// standard keeps for it.
constexpr std::string_view STDINT_MACROS[] = {"PTRDIFF_MIN",    "PTRDIFF_MAX", "SIG_ATOMIC_MIN",
                                              "SIG_ATOMIC_MAX", "SIZE_MAX",    "WCHAR_MIN",
                                              "WCHAR_MAX",      "WINT_MIN",    "WINT_MAX"};

// Macros of the other standard C headers a firmware source commonly includes
// beside this one (stdio, stddef, stdlib, string, limits, stdbool, errno
// with the usual POSIX numbers, float, math, assert, signal, time, locale).
constexpr std::string_view LIBC_MACROS[] = {
    "NULL",        "EOF",         "BUFSIZ",         "FILENAME_MAX", "FOPEN_MAX",
    "L_tmpnam",    "SEEK_CUR",    "SEEK_END",       "SEEK_SET",     "TMP_MAX",
    "_IOFBF",      "_IOLBF",      "_IONBF",         "EXIT_FAILURE", "EXIT_SUCCESS",
    "RAND_MAX",    "MB_CUR_MAX",  "CHAR_BIT",       "CHAR_MIN",     "CHAR_MAX",
    "SCHAR_MIN",   "SCHAR_MAX",   "UCHAR_MAX",      "MB_LEN_MAX",   "SHRT_MIN",
    "SHRT_MAX",    "USHRT_MAX",   "LONG_MIN",       "LONG_MAX",     "ULONG_MAX",
    "LLONG_MIN",   "LLONG_MAX",   "ULLONG_MAX",     "PATH_MAX",     "NAME_MAX",
    "LINE_MAX",    "IOV_MAX",     "SSIZE_MAX",      "NDEBUG",       "EDOM",
    "EILSEQ",      "ERANGE",      "EPERM",          "ENOENT",       "ESRCH",
    "EINTR",       "EIO",         "ENXIO",          "E2BIG",        "ENOEXEC",
    "EBADF",       "ECHILD",      "EAGAIN",         "ENOMEM",       "EACCES",
    "EFAULT",      "EBUSY",       "EEXIST",         "EXDEV",        "ENODEV",
    "ENOTDIR",     "EISDIR",      "EINVAL",         "ENFILE",       "EMFILE",
    "ENOTTY",      "ETXTBSY",     "EFBIG",          "ENOSPC",       "ESPIPE",
    "EROFS",       "EMLINK",      "EPIPE",          "EDEADLK",      "ENAMETOOLONG",
    "ENOLCK",      "ENOSYS",      "ENOTEMPTY",      "ELOOP",        "EWOULDBLOCK",
    "ENOMSG",      "EOVERFLOW",   "ENOTSUP",        "EOPNOTSUPP",   "ETIMEDOUT",
    "ECANCELED",   "EALREADY",    "EINPROGRESS",    "ENOBUFS",      "ECONNREFUSED",
    "ECONNRESET",  "EADDRINUSE",  "ENOTCONN",       "EHOSTUNREACH", "ENETDOWN",
    "ENETUNREACH", "EPROTO",      "EBADMSG",        "ENODATA",      "ETIME",
    "ENOSTR",      "ENOSR",       "EDQUOT",         "ESTALE",       "ENOTSOCK",
    "HUGE_VAL",    "HUGE_VALF",   "HUGE_VALL",      "INFINITY",     "NAN",
    "FP_NAN",      "FP_INFINITE", "FP_ZERO",        "FP_SUBNORMAL", "FP_NORMAL",
    "M_PI",        "M_E",         "M_SQRT2",        "SIGABRT",      "SIGFPE",
    "SIGILL",      "SIGINT",      "SIGSEGV",        "SIGTERM",      "SIG_DFL",
    "SIG_ERR",     "SIG_IGN",     "CLOCKS_PER_SEC", "TIME_UTC",     "LC_ALL",
    "LC_COLLATE",  "LC_CTYPE",    "LC_MONETARY",    "LC_NUMERIC",   "LC_TIME"};

bool EndsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool IsTaken(std::string_view name)
{
    if (std::find(std::begin(CXX_KEYWORDS), std::end(CXX_KEYWORDS), name) != std::end(CXX_KEYWORDS))
        return true;
    if (std::find(std::begin(STDINT_MACROS), std::end(STDINT_MACROS), name) != std::end(STDINT_MACROS))
        return true;
    if (std::find(std::begin(LIBC_MACROS), std::end(LIBC_MACROS), name) != std::end(LIBC_MACROS))
        return true;
    // float.h's limits.
    for (std::string_view family : {"FLT_", "DBL_", "LDBL_"}) {
        if (name.rfind(family, 0) == 0)
            return true;
    }
    if (name.rfind("INT", 0) == 0 || name.rfind("UINT", 0) == 0)
        return EndsWith(name, "_MAX") || EndsWith(name, "_MIN") || EndsWith(name, "_C");
    return false;
}

bool IsIdentChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Every character that cannot be in an identifier becomes '_'; a leading
// digit gets an 'N', since the header's own names start with the prefix.
std::string SanitizePrefix(const std::string& prefix)
{
    std::string out = prefix;
    for (char& c : out) {
        if (!IsIdentChar(static_cast<unsigned char>(c)))
            c = '_';
    }
    if (!out.empty() && out[0] >= '0' && out[0] <= '9')
        out.insert(out.begin(), 'N');
    return out;
}

std::string Stem(const std::string& path)
{
    std::string name =
        path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The stem in capitals, each run of other characters (a Chinese character's
// bytes, spaces, dashes) one '_', none at either end.
std::string StemPart(const std::string& path)
{
    std::string out;
    bool gap = false;
    for (unsigned char c : Stem(path)) {
        if (IsIdentChar(c)) {
            if (gap && !out.empty() && out.back() != '_' && c != '_')
                out += '_';
            gap = false;
            out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        } else {
            gap = true;
        }
    }
    const std::size_t first = out.find_first_not_of('_');
    if (first == std::string::npos)
        return {};
    const std::size_t last = out.find_last_not_of('_');
    return out.substr(first, last - first + 1);
}

// Text that is safe inside a /* */ comment: valid UTF-8 kept, other bytes
// and control characters '?', and no "*/", "/*" or "??" (a trigraph) left.
std::string CommentText(const std::string& s)
{
    std::string out;
    auto put = [&out](char c) {
        if (!out.empty()) {
            const char p = out.back();
            if ((p == '*' && c == '/') || (p == '/' && c == '*') || (p == '?' && c == '?'))
                out += ' ';
        }
        out += c;
    };
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool valid = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(s[i + k]) & 0xc0) == 0x80;
        if (!valid || c < 0x20 || c == 0x7f) {
            put('?');
            ++i;
        } else if (len == 1) {
            put(static_cast<char>(c));
            ++i;
        } else {
            out.append(s, i, len);
            i += len;
        }
    }
    return out;
}

std::string Number(std::uint64_t v, bool wide)
{
    return std::to_string(v) + (wide ? "ull" : "u");
}

} // namespace

std::vector<std::string> FirmwareMapReservedNames(const std::string& prefix)
{
    const std::string p = SanitizePrefix(prefix);
    std::vector<std::string> names;
    for (const char* n : {"ID", "COUNT", "LIBRARY_BYTES", "OFFSETS", "SIZES", "DURATIONS_MS", "OFFSET",
                          "SIZE", "DURATION_MS", "MAP_H"})
        names.push_back(p + n);
    return names;
}

std::vector<std::string> FirmwareNames(const std::vector<std::string>& paths, const std::string& prefix)
{
    const std::string p = SanitizePrefix(prefix);
    const std::vector<std::string> reserved = FirmwareMapReservedNames(prefix);
    std::set<std::string> used(reserved.begin(), reserved.end());
    std::vector<std::string> names;
    names.reserve(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::string stem = StemPart(paths[i]);
        if (stem.empty())
            stem = std::to_string(i);
        std::string name = p + stem;
        if (IsDigit(name[0]))
            name = "N" + name;
        if (IsTaken(name))
            name += '_';
        std::string unique = name;
        for (int k = 2; used.count(unique) != 0; ++k)
            unique = name + "_" + std::to_string(k);
        used.insert(unique);
        names.push_back(std::move(unique));
    }
    return names;
}

std::vector<MapEntry> FirmwareMapEntries(const std::vector<std::string>& paths, const BuildSummary& summary,
                                         const std::string& prefix)
{
    const std::size_t n = static_cast<std::size_t>(summary.entries);
    const std::vector<std::string> rows(paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(n));
    const std::vector<std::string> names = FirmwareNames(rows, prefix);
    std::vector<MapEntry> entries(n);
    std::uint64_t offset = 4 + 4 * static_cast<std::uint64_t>(n);
    for (std::size_t i = 0; i < n; ++i) {
        entries[i].name = names[i];
        entries[i].source = rows[i];
        entries[i].offset = offset;
        entries[i].size = summary.sizes[i];
        offset += summary.sizes[i];
    }
    return entries;
}

std::string FirmwareHeaderText(const std::vector<MapEntry>& entries, const std::string& prefix,
                               const std::string& headerPath, const std::string& library)
{
    const std::string p = SanitizePrefix(prefix);
    std::uint64_t total = 4 + 4 * static_cast<std::uint64_t>(entries.size());
    for (const MapEntry& e : entries)
        total += e.size;
    const bool wide = total > UINT32_MAX;
    const std::string type = wide ? "uint64_t" : "uint32_t";
    const std::string count = p + "COUNT";

    std::string h;
    h += "/* " + CommentText(BaseName(headerPath)) + ": the entries of the voice library " +
         CommentText(BaseName(library)) + ".\n";
    h += " * Written by voicelib build; build again rather than edit.\n";
    h += " * Each entry is 8 kHz A-law audio, one byte a sample, in whole blocks of " +
         std::to_string(AUDIO_BLOCK_SIZE) + " bytes. */\n";
    h += "#ifndef " + p + "MAP_H\n#define " + p + "MAP_H\n\n#include <stdint.h>\n\n";
    h += "enum " + p + "ID {\n";
    for (std::size_t i = 0; i < entries.size(); ++i)
        h += "    " + entries[i].name + " = " + std::to_string(i) + ", /* " +
             CommentText(BaseName(entries[i].source)) + " */\n";
    h += "};\n\n";
    h += "#define " + count + " " + std::to_string(entries.size()) + "\n";
    h += "#define " + p + "LIBRARY_BYTES " + Number(total, wide) + "\n\n";

    auto table = [&](const std::string& name, const char* what, auto value) {
        h += "/* " + std::string(what) + " */\n";
        h += "static const " + type + " " + p + name + "[" + count + "] = {\n";
        for (const MapEntry& e : entries)
            h += "    " + Number(value(e), wide) + ", /* " + e.name + " */\n";
        h += "};\n\n";
    };
    table("OFFSETS", "Where each entry's audio starts in the library file, in bytes.",
          [](const MapEntry& e) { return e.offset; });
    table("SIZES", "Each entry's length in bytes.",
          [](const MapEntry& e) -> std::uint64_t { return e.size; });
    table("DURATIONS_MS", "Each entry's duration in milliseconds.",
          [](const MapEntry& e) -> std::uint64_t { return e.size * 1000ull / DEVICE_SAMPLE_RATE; });

    // Accessors, so a file that includes the header uses every table.
    const std::pair<const char*, const char*> accessors[] = {
        {"OFFSET", "OFFSETS"}, {"SIZE", "SIZES"}, {"DURATION_MS", "DURATIONS_MS"}};
    for (const auto& [fn, array] : accessors)
        h += "static inline " + type + " " + p + fn + "(unsigned id)\n{\n    return id < " + count + " ? " +
             p + array + "[id] : 0u;\n}\n";
    h += "\n#endif\n";
    return h;
}

std::string FirmwareMapCsv(const std::vector<MapEntry>& entries)
{
    auto field = [](const std::string& s) {
        if (s.find_first_of(",\"\r\n") == std::string::npos)
            return s;
        std::string q = "\"";
        for (char c : s)
            q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    };
    std::string csv = "index,name,source,offset,size,seconds\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MapEntry& e = entries[i];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(e.size) / DEVICE_SAMPLE_RATE);
        csv += std::to_string(i) + "," + field(e.name) + "," + field(e.source) + "," +
               std::to_string(e.offset) + "," + std::to_string(e.size) + "," + seconds + "\r\n";
    }
    return csv;
}

} // namespace voicelib
