#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Streaming reader of a multipart/form-data body (RFC 7578). Bytes are fed in
// pieces of any size, split anywhere; parts and their data come out through the
// callbacks as soon as they are known. No network code: it only sees bytes.
class MultipartReader
{
public:
    struct PartHeader
    {
        std::string name;
        std::string fileName;
        bool hasFileName = false;
        std::string contentType;
    };
    // Either callback returns false to stop reading (the reader then fails).
    using PartCallback = std::function<bool(const PartHeader &)>;
    using DataCallback = std::function<bool(std::string_view)>;

    static constexpr std::size_t maxPartHeaderBytes = 16 * 1024;

    MultipartReader(std::string boundary, PartCallback onPart, DataCallback onData);

    // The boundary parameter of a multipart/form-data Content-Type, or nullopt
    // when the type is something else or the boundary is missing or invalid.
    static std::optional<std::string> boundaryOf(std::string_view contentType);

    // False once the body is malformed or a callback refused; later calls do nothing.
    bool feed(std::string_view bytes);
    // The closing delimiter has been read.
    bool isComplete() const { return m_state == State::Done; }
    bool hasFailed() const { return m_state == State::Failed; }

    // Parses one part's header block (lines without the blank line ending it).
    static std::optional<PartHeader> parsePartHeader(std::string_view block);

private:
    enum class State { Preamble, AfterDelimiter, Headers, Body, Done, Failed };

    bool step();
    bool fail();

    std::string m_delimiter;
    PartCallback m_onPart;
    DataCallback m_onData;
    std::string m_pending;
    State m_state = State::Preamble;
};
