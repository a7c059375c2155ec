#include "host/wsf.h"

#include <cwchar>
#include <cwctype>

namespace zelhost {

namespace {

bool StartsWithAt(const std::wstring& text, size_t pos, const wchar_t* prefix, bool ignoreCase = false)
{
    for (size_t i = 0; prefix[i]; ++i) {
        if (pos + i >= text.size())
            return false;
        wchar_t a = text[pos + i], b = prefix[i];
        if (ignoreCase) {
            a = wchar_t(std::towlower(a));
            b = wchar_t(std::towlower(b));
        }
        if (a != b)
            return false;
    }
    return true;
}

size_t FindIgnoreCase(const std::wstring& text, const wchar_t* what, size_t from)
{
    for (size_t pos = from; pos < text.size(); ++pos)
        if (StartsWithAt(text, pos, what, true))
            return pos;
    return std::wstring::npos;
}

std::wstring Lower(std::wstring s)
{
    for (auto& c : s)
        c = wchar_t(std::towlower(c));
    return s;
}

bool IsNameChar(wchar_t c)
{
    return std::iswalnum(c) || c == L'_' || c == L'-' || c == L':' || c == L'.';
}

// &lt; &gt; &amp; &quot; &apos; &#n; &#xh; decoded; anything else kept as written.
std::wstring DecodeReferences(const std::wstring& text)
{
    static const struct {
        const wchar_t* name;
        wchar_t c;
    } named[] = {{L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&amp;", L'&'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}};
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] != L'&') {
            out += text[i++];
            continue;
        }
        bool done = false;
        for (const auto& n : named) {
            if (StartsWithAt(text, i, n.name)) {
                out += n.c;
                i += std::wcslen(n.name);
                done = true;
                break;
            }
        }
        if (!done && StartsWithAt(text, i, L"&#")) {
            const size_t end = text.find(L';', i);
            if (end != std::wstring::npos && end > i + 2 && end - i < 12) {
                const bool hex = text[i + 2] == L'x' || text[i + 2] == L'X';
                const std::wstring digits = text.substr(i + (hex ? 3 : 2), end - i - (hex ? 3 : 2));
                wchar_t* stop = nullptr;
                const unsigned long code = std::wcstoul(digits.c_str(), &stop, hex ? 16 : 10);
                if (!digits.empty() && stop && !*stop && code && code <= 0xFFFF) {
                    out += wchar_t(code);
                    i = end + 1;
                    done = true;
                }
            }
        }
        if (!done)
            out += text[i++];
    }
    return out;
}

class Reader {
public:
    explicit Reader(const std::wstring& text) : text_(text) {}

    bool Parse(std::vector<WsfJob>& jobs, std::wstring& error)
    {
        size_t pos = 0;
        WsfJob* job = nullptr;
        while ((pos = text_.find(L'<', pos)) != std::wstring::npos) {
            const size_t start = pos;
            if (StartsWithAt(text_, pos, L"<!--")) {
                pos = Skip(pos, L"-->");
            } else if (StartsWithAt(text_, pos, L"<?")) {
                if (StartsWithAt(text_, pos, L"<?xml") && pos + 5 < text_.size() && std::iswspace(text_[pos + 5]))
                    strict_ = true;
                pos = Skip(pos, L"?>");
            } else if (StartsWithAt(text_, pos, L"<![CDATA[")) {
                pos = Skip(pos, L"]]>");
            } else if (StartsWithAt(text_, pos, L"<!")) {
                pos = Skip(pos, L">");
            } else if (StartsWithAt(text_, pos, L"</")) {
                size_t end = pos + 2;
                while (end < text_.size() && IsNameChar(text_[end]))
                    ++end;
                if (Lower(text_.substr(pos + 2, end - pos - 2)) == L"job")
                    job = nullptr;
                pos = Skip(pos, L">");
            } else {
                Tag tag;
                if (!ReadTag(pos, tag)) {
                    if (tag.name.empty()) {  // a '<' that starts no tag: text
                        ++pos;
                        continue;
                    }
                    error = L"line " + std::to_wstring(LineOf(start) + 1) + L": the <" + tag.name +
                            L"> tag is not closed";
                    return false;
                }
                pos = tag.end;
                const std::wstring name = Lower(tag.name);
                if (name == L"job") {
                    jobs.push_back(WsfJob());
                    jobs.back().id = tag.Attribute(L"id");
                    job = tag.selfClosing ? nullptr : &jobs.back();
                } else if (name == L"script") {
                    WsfScript script;
                    script.language = tag.Attribute(L"language");
                    script.src = tag.Attribute(L"src");
                    script.line = LineOf(start) + 1;
                    if (!tag.selfClosing) {
                        const size_t close = FindIgnoreCase(text_, L"</script", pos);
                        if (close == std::wstring::npos) {
                            error = L"line " + std::to_wstring(script.line) + L": the <script> element has no </script>";
                            return false;
                        }
                        script.code = Body(pos, close);
                        script.firstLine = LineOf(pos);
                        script.code.insert(0, ColumnOf(pos), L' ');
                        script.hasCode = script.code.find_first_not_of(L" \t\r\n") != std::wstring::npos;
                        pos = Skip(close, L">");
                    }
                    if (job)
                        job->scripts.push_back(script);
                } else if (name == L"reference") {
                    WsfReference reference;
                    reference.object = tag.Attribute(L"object");
                    reference.guid = tag.Attribute(L"guid");
                    reference.version = tag.Attribute(L"version");
                    reference.line = LineOf(start) + 1;
                    if (job)
                        job->references.push_back(reference);
                } else if (name == L"resource" && !tag.selfClosing) {
                    // Resource text is the host's data, not markup.
                    const size_t close = FindIgnoreCase(text_, L"</resource", pos);
                    pos = close == std::wstring::npos ? text_.size() : Skip(close, L">");
                }
            }
        }
        if (jobs.empty()) {
            error = L"the file has no <job> element";
            return false;
        }
        return true;
    }

private:
    struct Tag {
        std::wstring name;
        std::vector<std::pair<std::wstring, std::wstring>> attributes;
        bool selfClosing = false;
        size_t end = 0;  // just after the '>'

        std::wstring Attribute(const wchar_t* wanted) const
        {
            for (const auto& a : attributes)
                if (Lower(a.first) == wanted)
                    return a.second;
            return std::wstring();
        }
    };

    // The position after the next `terminator` at or after pos (the end of
    // the text when there is none).
    size_t Skip(size_t pos, const wchar_t* terminator) const
    {
        const size_t found = text_.find(terminator, pos);
        return found == std::wstring::npos ? text_.size() : found + std::wcslen(terminator);
    }

    bool ReadTag(size_t pos, Tag& tag) const
    {
        size_t i = pos + 1;
        while (i < text_.size() && IsNameChar(text_[i]))
            ++i;
        tag.name = text_.substr(pos + 1, i - pos - 1);
        if (tag.name.empty())
            return false;
        for (;;) {
            while (i < text_.size() && std::iswspace(text_[i]))
                ++i;
            if (i >= text_.size())
                return false;
            if (text_[i] == L'>') {
                tag.end = i + 1;
                return true;
            }
            if (StartsWithAt(text_, i, L"/>")) {
                tag.selfClosing = true;
                tag.end = i + 2;
                return true;
            }
            const size_t nameStart = i;
            while (i < text_.size() && IsNameChar(text_[i]))
                ++i;
            if (i == nameStart)
                return false;
            std::wstring name = text_.substr(nameStart, i - nameStart), value;
            while (i < text_.size() && std::iswspace(text_[i]))
                ++i;
            if (i < text_.size() && text_[i] == L'=') {
                ++i;
                while (i < text_.size() && std::iswspace(text_[i]))
                    ++i;
                if (i < text_.size() && (text_[i] == L'"' || text_[i] == L'\'')) {
                    const size_t close = text_.find(text_[i], i + 1);
                    if (close == std::wstring::npos)
                        return false;
                    value = DecodeReferences(text_.substr(i + 1, close - i - 1));
                    i = close + 1;
                } else {
                    const size_t valueStart = i;
                    while (i < text_.size() && !std::iswspace(text_[i]) && text_[i] != L'>' &&
                           !StartsWithAt(text_, i, L"/>"))
                        ++i;
                    value = text_.substr(valueStart, i - valueStart);
                }
            }
            tag.attributes.emplace_back(name, value);
        }
    }

    // A script body: CDATA markers blanked, references decoded outside CDATA
    // in an XML file.
    std::wstring Body(size_t from, size_t to) const
    {
        std::wstring out;
        size_t pos = from;
        while (pos < to) {
            const size_t open = text_.find(L"<![CDATA[", pos);
            const size_t plainEnd = open == std::wstring::npos || open >= to ? to : open;
            const std::wstring plain = text_.substr(pos, plainEnd - pos);
            out += strict_ ? DecodeReferences(plain) : plain;
            if (plainEnd == to)
                break;
            out.append(9, L' ');
            const size_t close = text_.find(L"]]>", plainEnd + 9);
            const size_t dataEnd = close == std::wstring::npos || close > to ? to : close;
            out += text_.substr(plainEnd + 9, dataEnd - plainEnd - 9);
            if (dataEnd == to)
                break;
            out.append(3, L' ');
            pos = dataEnd + 3;
        }
        return out;
    }

    unsigned long LineOf(size_t pos) const
    {
        unsigned long line = 0;
        for (size_t i = 0; i < pos && i < text_.size(); ++i)
            line += text_[i] == L'\n';
        return line;
    }

    size_t ColumnOf(size_t pos) const
    {
        const size_t newline = pos ? text_.rfind(L'\n', pos - 1) : std::wstring::npos;
        return newline == std::wstring::npos ? pos : pos - newline - 1;
    }

    const std::wstring& text_;
    bool strict_ = false;
};

} // namespace

bool ParseWsf(const std::wstring& text, std::vector<WsfJob>& jobs, std::wstring& error)
{
    jobs.clear();
    return Reader(text).Parse(jobs, error);
}

} // namespace zelhost
