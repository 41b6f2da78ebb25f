#include "common/ini_text.h"

#include "common/ascii.h"
#include "common/error_codes.h"
#include "common/text_utils.h"

namespace brindle {

namespace {

enum class LineKind { Other, Comment, Section, Key };

// One line of the text, by offsets. `end` excludes the line end ("\n" or
// "\r\n"); `next` is the start of the following line.
struct Line {
    size_t begin = 0;
    size_t end = 0;
    size_t next = 0;
    LineKind kind = LineKind::Other;
    std::string_view name;
    size_t valueBegin = 0; // key lines: first byte of the value part
    std::string_view value;
};

std::string_view Trim(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && IsSettingBlank(s[b]))
        ++b;
    size_t e = s.size();
    while (e > b && IsSettingBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

void ClassifyLine(std::string_view text, Line& line) {
    std::string_view content = text.substr(line.begin, line.end - line.begin);
    std::string_view trimmed = Trim(content);
    if (trimmed.empty())
        return;
    if (trimmed.front() == ';') {
        line.kind = LineKind::Comment;
        return;
    }
    if (trimmed.front() == '[') {
        size_t close = trimmed.rfind(']');
        if (close != std::string_view::npos && close > 0) {
            line.kind = LineKind::Section;
            line.name = Trim(trimmed.substr(1, close - 1));
        }
        return;
    }
    size_t eq = content.find('=');
    if (eq == std::string_view::npos)
        return;
    line.kind = LineKind::Key;
    line.name = Trim(content.substr(0, eq));
    size_t vb = eq + 1;
    while (vb < content.size() && IsSettingBlank(content[vb]))
        ++vb;
    line.valueBegin = line.begin + vb;
    line.value = Trim(content.substr(vb));
}

// The line that starts at `pos` (pos < text.size()).
Line LineAt(std::string_view text, size_t pos) {
    Line line;
    line.begin = pos;
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
        line.end = line.next = text.size();
    } else {
        line.next = nl + 1;
        line.end = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
    }
    ClassifyLine(text, line);
    return line;
}

// The first section named `section`: its header line and the byte range of
// its body, up to the next section header or the end of the text.
struct SectionRange {
    bool found = false;
    Line header;
    size_t bodyEnd = 0;
};

SectionRange FindSection(std::string_view text, std::string_view section) {
    SectionRange range;
    section = Trim(section);
    for (size_t pos = 0; pos < text.size();) {
        Line line = LineAt(text, pos);
        if (line.kind == LineKind::Section) {
            if (range.found) {
                range.bodyEnd = line.begin;
                return range;
            }
            if (IniNameEqual(line.name, section)) {
                range.found = true;
                range.header = line;
            }
        }
        pos = line.next;
    }
    range.bodyEnd = text.size();
    return range;
}

// The key line in the section, if any.
std::optional<Line> FindKey(std::string_view text, const SectionRange& range,
                            std::string_view key) {
    if (!range.found)
        return std::nullopt;
    key = Trim(key);
    for (size_t pos = range.header.next; pos < range.bodyEnd;) {
        Line line = LineAt(text, pos);
        if (line.kind == LineKind::Key && IniNameEqual(line.name, key))
            return line;
        pos = line.next;
    }
    return std::nullopt;
}

// Calls `visit` for every key line of the section.
template <typename Visit>
void ForEachKey(std::string_view text, const SectionRange& range, Visit visit) {
    for (size_t pos = range.header.next; pos < range.bodyEnd;) {
        Line line = LineAt(text, pos);
        if (line.kind == LineKind::Key)
            visit(line);
        pos = line.next;
    }
}

std::string_view LineEndOf(std::string_view text) {
    size_t nl = text.find('\n');
    if (nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r')
        return "\r\n";
    return "\n";
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Inserts `newLines` at `pos`, first ending an unterminated last line.
void InsertLines(std::string& text, size_t pos, const std::string& newLines, std::string_view eol) {
    if (pos == text.size() && !text.empty() && text.back() != '\n') {
        text.append(eol);
        pos = text.size();
    }
    text.insert(pos, newLines);
}

// The map key of a section or key name: trimmed, ASCII letters folded.
std::string FoldedName(std::string_view name) {
    std::string folded(Trim(name));
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// The entries of one section for IniTextSetMany, in the order first set.
struct SectionUpdate {
    std::string name;                                      // as first given, trimmed
    std::vector<std::pair<std::string, std::string>> keys; // trimmed name, last value
    std::unordered_map<std::string, size_t> keyIndex;      // folded name -> keys index
    std::vector<bool> applied;
    bool fSeen = false; // the section's first occurrence has been passed
};

std::string KeyLines(const SectionUpdate& update, std::string_view eol) {
    std::string lines;
    for (size_t i = 0; i < update.keys.size(); ++i)
        if (!update.applied[i])
            lines.append(update.keys[i].first)
                .append("=")
                .append(update.keys[i].second)
                .append(eol);
    return lines;
}

void AppendLines(std::string& out, const std::string& lines, std::string_view eol) {
    if (lines.empty())
        return;
    if (!out.empty() && out.back() != '\n')
        out.append(eol);
    out.append(lines);
}

} // namespace

IniIndex::IniIndex(std::string_view text) {
    Keys* current = nullptr;
    for (size_t pos = 0; pos < text.size();) {
        Line line = LineAt(text, pos);
        if (line.kind == LineKind::Section) {
            // Only the first section of a name is ever searched.
            auto [it, fresh] = sections_.try_emplace(FoldedName(line.name));
            current = fresh ? &it->second : nullptr;
        } else if (line.kind == LineKind::Key && current != nullptr) {
            current->try_emplace(FoldedName(line.name), line.value);
        }
        pos = line.next;
    }
}

std::optional<std::string> IniIndex::Get(std::string_view section, std::string_view key) const {
    auto s = sections_.find(FoldedName(section));
    if (s == sections_.end())
        return std::nullopt;
    auto k = s->second.find(FoldedName(key));
    if (k == s->second.end())
        return std::nullopt;
    return std::string(IniUnquote(k->second));
}

void IniTextSetMany(std::string& text, const std::vector<IniEntry>& entries) {
    std::vector<SectionUpdate> updates;
    std::unordered_map<std::string, size_t> sectionIndex;
    for (const IniEntry& e : entries) {
        if (IniCheckEntry(e.section, e.key, e.value) != 0)
            continue;
        auto [s, freshSection] = sectionIndex.try_emplace(FoldedName(e.section), updates.size());
        if (freshSection)
            updates.push_back(SectionUpdate{std::string(Trim(e.section)), {}, {}, {}, false});
        SectionUpdate& update = updates[s->second];
        auto [k, freshKey] = update.keyIndex.try_emplace(FoldedName(e.key), update.keys.size());
        if (freshKey) {
            update.keys.emplace_back(std::string(Trim(e.key)), e.value);
            update.applied.push_back(false);
        } else {
            update.keys[k->second].second = e.value;
        }
    }
    if (updates.empty())
        return;
    const std::string_view view = text;
    std::string_view eol = LineEndOf(view);
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    SectionUpdate* current = nullptr;
    std::string tail; // lines of the current section after its last key line
    auto closeSection = [&] {
        if (current != nullptr) {
            AppendLines(out, KeyLines(*current, eol), eol);
            out.append(tail);
            tail.clear();
            current = nullptr;
        }
    };
    for (size_t pos = 0; pos < view.size();) {
        Line line = LineAt(view, pos);
        std::string_view whole = view.substr(line.begin, line.next - line.begin);
        if (line.kind == LineKind::Section) {
            closeSection();
            out.append(whole);
            auto s = sectionIndex.find(FoldedName(line.name));
            if (s != sectionIndex.end() && !updates[s->second].fSeen) {
                current = &updates[s->second];
                current->fSeen = true;
            }
        } else if (current == nullptr) {
            out.append(whole);
        } else if (line.kind != LineKind::Key) {
            tail.append(whole);
        } else {
            out.append(tail);
            tail.clear();
            auto k = current->keyIndex.find(FoldedName(line.name));
            if (k != current->keyIndex.end() && !current->applied[k->second]) {
                current->applied[k->second] = true;
                out.append(view.substr(line.begin, line.valueBegin - line.begin));
                out.append(current->keys[k->second].second);
                out.append(view.substr(line.end, line.next - line.end));
            } else {
                out.append(whole);
            }
        }
        pos = line.next;
    }
    closeSection();
    for (SectionUpdate& update : updates) {
        if (update.fSeen)
            continue;
        std::string block = "[" + update.name + "]" + std::string(eol) + KeyLines(update, eol);
        AppendLines(out, block, eol);
    }
    text = std::move(out);
}

bool IniNameEqual(std::string_view a, std::string_view b) {
    return EqualNoCase(a, b);
}

std::string_view IniUnquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::optional<std::string> IniTextGet(std::string_view text, std::string_view section,
                                      std::string_view key) {
    std::optional<Line> line = FindKey(text, FindSection(text, section), key);
    if (!line)
        return std::nullopt;
    return std::string(IniUnquote(line->value));
}

uint32_t IniCheckEntry(std::string_view section, std::string_view key, std::string_view value) {
    std::string_view s = Trim(section);
    std::string_view k = Trim(key);
    if (s.empty() || k.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        return ERROR_INVALID_PARAMETER_CODE;
    if (k.find('=') != std::string_view::npos || k.front() == '[' || k.front() == ';')
        return ERROR_INVALID_PARAMETER_CODE;
    return 0;
}

uint32_t IniTextSet(std::string& text, std::string_view section, std::string_view key,
                    std::string_view value) {
    if (uint32_t err = IniCheckEntry(section, key, value))
        return err;
    std::string_view eol = LineEndOf(text);
    SectionRange range = FindSection(text, section);
    if (std::optional<Line> line = FindKey(text, range, key)) {
        text.replace(line->valueBegin, line->end - line->valueBegin, value);
        return 0;
    }
    std::string keyLine;
    keyLine.append(Trim(key)).append("=").append(value).append(eol);
    if (!range.found) {
        std::string block;
        block.append("[").append(Trim(section)).append("]").append(eol).append(keyLine);
        InsertLines(text, text.size(), block, eol);
        return 0;
    }
    size_t after = range.header.next;
    ForEachKey(text, range, [&](const Line& line) { after = line.next; });
    InsertLines(text, after, keyLine, eol);
    return 0;
}

bool IniTextDeleteKey(std::string& text, std::string_view section, std::string_view key) {
    std::optional<Line> line = FindKey(text, FindSection(text, section), key);
    if (!line)
        return false;
    text.erase(line->begin, line->next - line->begin);
    return true;
}

bool IniTextDeleteSection(std::string& text, std::string_view section) {
    SectionRange range = FindSection(text, section);
    if (!range.found)
        return false;
    text.erase(range.header.begin, range.bodyEnd - range.header.begin);
    return true;
}

std::vector<std::string> IniTextSections(std::string_view text) {
    std::vector<std::string> names;
    for (size_t pos = 0; pos < text.size();) {
        Line line = LineAt(text, pos);
        if (line.kind == LineKind::Section)
            names.emplace_back(line.name);
        pos = line.next;
    }
    return names;
}

std::vector<std::string> IniTextKeys(std::string_view text, std::string_view section) {
    std::vector<std::string> keys;
    SectionRange range = FindSection(text, section);
    if (!range.found)
        return keys;
    ForEachKey(text, range, [&](const Line& line) {
        if (!line.name.empty())
            keys.emplace_back(line.name);
    });
    return keys;
}

} // namespace brindle
