#include "MultipartReader.h"

#include "HeaderText.h"

namespace {

constexpr std::size_t maxBoundaryLength = 70; // RFC 2046
// Spaces allowed between a delimiter and its line end ("transport padding").
constexpr std::size_t maxPaddingBytes = 256;

} // namespace

MultipartReader::MultipartReader(std::string boundary, PartCallback onPart, DataCallback onData)
    : m_delimiter("\r\n--" + boundary)
    , m_onPart(std::move(onPart))
    , m_onData(std::move(onData))
    // The first delimiter may open the body without a line break before it.
    , m_pending("\r\n")
{}

std::optional<std::string> MultipartReader::boundaryOf(std::string_view contentType)
{
    const auto params = HeaderText::splitParameters(contentType);
    if (params.empty() || HeaderText::lower(params.front().second) != "multipart/form-data") {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < params.size(); ++i) {
        if (HeaderText::lower(params[i].first) != "boundary") {
            continue;
        }
        const std::string &boundary = params[i].second;
        if (boundary.empty() || boundary.size() > maxBoundaryLength ||
            boundary.find_first_of("\r\n") != std::string::npos) {
            return std::nullopt;
        }
        return boundary;
    }
    return std::nullopt;
}

std::optional<MultipartReader::PartHeader> MultipartReader::parsePartHeader(std::string_view block)
{
    PartHeader header;
    bool disposition = false;
    for (const auto &[name, value] : HeaderText::splitHeaderLines(block)) {
        const std::string key = HeaderText::lower(name);
        if (key == "content-disposition") {
            const auto params = HeaderText::splitParameters(value);
            if (disposition || params.empty() ||
                HeaderText::lower(params.front().second) != "form-data") {
                return std::nullopt;
            }
            disposition = true;
            bool hasName = false;
            for (std::size_t i = 1; i < params.size(); ++i) {
                const std::string param = HeaderText::lower(params[i].first);
                if (param == "name") {
                    header.name = params[i].second;
                    hasName = true;
                } else if (param == "filename") {
                    header.fileName = params[i].second;
                    header.hasFileName = true;
                }
            }
            if (!hasName) {
                return std::nullopt;
            }
        } else if (key == "content-type") {
            header.contentType = std::string(HeaderText::trim(value));
        } else if (key.empty()) {
            return std::nullopt;
        }
    }
    if (!disposition) {
        return std::nullopt;
    }
    return header;
}

bool MultipartReader::fail()
{
    m_state = State::Failed;
    m_pending.clear();
    m_pending.shrink_to_fit();
    return false;
}

bool MultipartReader::feed(std::string_view bytes)
{
    if (m_state == State::Failed) {
        return false;
    }
    if (m_state == State::Done) {
        return true; // the epilogue is ignored
    }
    m_pending.append(bytes);
    while (step()) {
    }
    return m_state != State::Failed;
}

// Consumes what it can from m_pending; true when it should be called again.
bool MultipartReader::step()
{
    switch (m_state) {
    case State::Preamble:
    case State::Body: {
        const auto at = m_pending.find(m_delimiter);
        // Without a whole delimiter, keep only what could be its beginning.
        const std::size_t safe = at != std::string::npos ? at
                                 : m_pending.size() >= m_delimiter.size()
                                     ? m_pending.size() - (m_delimiter.size() - 1)
                                     : 0;
        if (safe > 0 && m_state == State::Body &&
            !m_onData(std::string_view(m_pending).substr(0, safe))) {
            return fail();
        }
        if (at == std::string::npos) {
            m_pending.erase(0, safe);
            return false;
        }
        m_pending.erase(0, at + m_delimiter.size());
        m_state = State::AfterDelimiter;
        return true;
    }
    case State::AfterDelimiter: {
        if (m_pending.size() < 2) {
            return false;
        }
        if (m_pending.compare(0, 2, "--") == 0) {
            m_state = State::Done;
            m_pending.clear();
            return false;
        }
        const auto lineEnd = m_pending.find("\r\n");
        if (lineEnd == std::string::npos) {
            return m_pending.size() > maxPaddingBytes ||
                           m_pending.find_first_not_of(" \t\r") != std::string::npos
                       ? fail()
                       : false;
        }
        if (m_pending.find_first_not_of(" \t") < lineEnd) {
            return fail();
        }
        m_pending.erase(0, lineEnd + 2);
        m_state = State::Headers;
        return true;
    }
    case State::Headers: {
        if (m_pending.size() >= 2 && m_pending.compare(0, 2, "\r\n") == 0) {
            return fail(); // a part without headers has no name
        }
        const auto end = m_pending.find("\r\n\r\n");
        if (end == std::string::npos) {
            return m_pending.size() > maxPartHeaderBytes ? fail() : false;
        }
        if (end > maxPartHeaderBytes) {
            return fail();
        }
        const auto header = parsePartHeader(std::string_view(m_pending).substr(0, end));
        if (!header || !m_onPart(*header)) {
            return fail();
        }
        // The data starts after the blank line; the line break before the next
        // delimiter belongs to that delimiter, so empty data needs nothing special.
        m_pending.erase(0, end + 4);
        m_state = State::Body;
        return true;
    }
    case State::Done:
    case State::Failed:
        return false;
    }
    return false;
}
