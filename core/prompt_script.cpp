#include "core/prompt_script.h"

#include "core/encoding.h"
#include "core/fileio.h"
#include "core/text.h"
#include "core/wave.h"

#include <map>
#include <optional>
#include <sys/stat.h>

namespace voicelib {

namespace {

constexpr std::string_view BOM = "\xEF\xBB\xBF";

struct Record
{
    int line = 0;
    std::vector<std::string> fields;
};

ScriptError Problem(ScriptProblem problem, int line, std::string detail = {})
{
    ScriptError e;
    e.problem = problem;
    e.line = line;
    e.detail = std::move(detail);
    return e;
}

// The line of the first byte that is not UTF-8, or 0.
int FirstNonUtf8Line(std::string_view text)
{
    if (IsAscii(text) || IsValidUtf8(text))
        return 0;
    int line = 1;
    for (std::size_t start = 0; start <= text.size(); ++line) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (!IsValidUtf8(text.substr(start, end - start)))
            return line;
        start = end + 1;
    }
    return line;
}

// Splits the text into records as RFC 4180 has them; CR LF, LF and a lone CR
// end a line, and quoted fields may span lines.
class Tokenizer
{
public:
    explicit Tokenizer(std::string_view text) : m_text(text) {}

    // The next record, nothing at the end, or a problem in error.
    std::optional<Record> Next(ScriptError* error)
    {
        if (m_pos >= m_text.size())
            return std::nullopt;
        Record record;
        record.line = m_line;
        std::string field;
        for (;;) {
            if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                const int opened = m_line;
                ++m_pos;
                for (;;) {
                    if (m_pos >= m_text.size()) {
                        *error = Problem(ScriptProblem::UnclosedQuote, opened);
                        return std::nullopt;
                    }
                    const char c = m_text[m_pos++];
                    if (c == '"') {
                        if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                            field += '"';
                            ++m_pos;
                            continue;
                        }
                        break;
                    }
                    if (c == '\n' || (c == '\r' && (m_pos >= m_text.size() || m_text[m_pos] != '\n')))
                        ++m_line;
                    field += c;
                }
                if (m_pos < m_text.size() && m_text[m_pos] != ',' && !AtLineEnd()) {
                    *error = Problem(ScriptProblem::TextAfterQuote, m_line);
                    return std::nullopt;
                }
            } else {
                while (m_pos < m_text.size() && m_text[m_pos] != ',' && !AtLineEnd()) {
                    if (m_text[m_pos] == '"') {
                        *error = Problem(ScriptProblem::QuoteInField, m_line);
                        return std::nullopt;
                    }
                    field += m_text[m_pos++];
                }
            }
            record.fields.push_back(std::move(field));
            field.clear();
            if (m_pos < m_text.size() && m_text[m_pos] == ',') {
                ++m_pos;
                continue;
            }
            SkipLineEnd();
            return record;
        }
    }

private:
    bool AtLineEnd() const { return m_text[m_pos] == '\n' || m_text[m_pos] == '\r'; }

    void SkipLineEnd()
    {
        if (m_pos >= m_text.size())
            return;
        if (m_text[m_pos] == '\r')
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '\n')
            ++m_pos;
        ++m_line;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    int m_line = 1;
};

bool IsBlank(const Record& r)
{
    for (const std::string& f : r.fields)
        if (!f.empty())
            return false;
    return true;
}

std::string Trimmed(std::string_view s)
{
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

// A name becomes a file stem: it may not leave the folder or hide a control character.
bool IsStem(const std::string& name)
{
    if (name == "." || name == "..")
        return false;
    for (char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

PromptScript Failed(ScriptError error)
{
    PromptScript script;
    script.error = std::move(error);
    return script;
}

} // namespace

PromptScript ParsePromptScript(std::string_view bytes)
{
    if (bytes.substr(0, BOM.size()) == BOM)
        bytes.remove_prefix(BOM.size());
    if (int line = FirstNonUtf8Line(bytes); line > 0)
        return Failed(Problem(ScriptProblem::NotUtf8, line));

    Tokenizer tokens(bytes);
    ScriptError error;
    std::optional<Record> header;
    while ((header = tokens.Next(&error)) && IsBlank(*header)) {
    }
    if (error.problem != ScriptProblem::None)
        return Failed(error);
    if (!header)
        return Failed(Problem(ScriptProblem::NoHeader, 1));

    static const char* const COLUMNS[] = {"name", "text", "file"};
    int column[3] = {-1, -1, -1};
    for (std::size_t i = 0; i < header->fields.size(); ++i) {
        const std::string label = Trimmed(header->fields[i]);
        for (int c = 0; c < 3; ++c) {
            if (!EqualsNoCase(label, COLUMNS[c]))
                continue;
            if (column[c] >= 0)
                return Failed(Problem(ScriptProblem::DuplicateColumn, header->line, COLUMNS[c]));
            column[c] = static_cast<int>(i);
        }
    }
    for (int c = 0; c < 2; ++c)
        if (column[c] < 0)
            return Failed(Problem(ScriptProblem::MissingColumn, header->line, COLUMNS[c]));

    PromptScript script;
    std::map<std::string, int> seen;
    while (std::optional<Record> record = tokens.Next(&error)) {
        if (IsBlank(*record))
            continue;
        // Trailing empty cells are how spreadsheets pad rows; anything more is a stray comma.
        for (std::size_t i = header->fields.size(); i < record->fields.size(); ++i)
            if (!record->fields[i].empty())
                return Failed(Problem(ScriptProblem::TooManyFields, record->line));
        auto cell = [&](int c) {
            return column[c] >= 0 && static_cast<std::size_t>(column[c]) < record->fields.size()
                       ? record->fields[static_cast<std::size_t>(column[c])]
                       : std::string();
        };
        ScriptRow row;
        row.line = record->line;
        row.name = Trimmed(cell(0));
        row.text = cell(1);
        row.file = Trimmed(cell(2));
        if (row.name.empty())
            return Failed(Problem(ScriptProblem::EmptyName, row.line));
        if (!IsStem(row.name))
            return Failed(Problem(ScriptProblem::BadName, row.line, row.name));
        auto [it, fresh] = seen.emplace(row.name, row.line);
        if (!fresh) {
            ScriptError e = Problem(ScriptProblem::DuplicateName, row.line, row.name);
            e.otherLine = it->second;
            return Failed(e);
        }
        script.rows.push_back(std::move(row));
    }
    if (error.problem != ScriptProblem::None)
        return Failed(error);
    if (script.rows.empty())
        return Failed(Problem(ScriptProblem::NoRows, header->line));
    return script;
}

PromptScript ReadPromptScript(const std::string& path)
{
    auto failed = [](ScriptProblem problem, std::error_code code, std::string detail = {}) {
        ScriptError e = Problem(problem, 0, std::move(detail));
        e.code = code;
        return Failed(e);
    };
    Result<FileHandle> file = OpenSource(path);
    if (!file) {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return failed(ScriptProblem::NotRegular, file.code(), KindOfFile(st.st_mode));
        return failed(ScriptProblem::Unreadable, file.code());
    }
    std::string bytes;
    for (;;) {
        if (bytes.size() > MAX_SCRIPT_BYTES)
            return failed(ScriptProblem::TooLarge, {});
        const std::size_t have = bytes.size();
        bytes.resize(have + 64 * 1024);
        Result<std::size_t> got = ReadAt(file->fd(), bytes.data() + have, bytes.size() - have, have);
        if (!got)
            return failed(ScriptProblem::Unreadable, got.code());
        bytes.resize(have + *got);
        if (*got == 0)
            break;
    }
    return ParsePromptScript(bytes);
}

} // namespace voicelib
