// The upload service's multipart reader. Inputs starting with 'P' are raw
// requests (head and body, as captured); others describe parts that are
// written as the client writes them, with its own quoting. Either way the
// body is fed whole, byte by byte and in random pieces: parts, names, data,
// completion and failure must be the same every time; data never holds the
// delimiter and is handed on without being held back; a written body reads
// back as written.
#include "HeaderText.h"
#include "MultipartBody.h"
#include "MultipartReader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

struct Part
{
    MultipartReader::PartHeader header;
    std::string data;
    bool operator==(const Part &o) const
    {
        return header.name == o.header.name && header.fileName == o.header.fileName &&
               header.hasFileName == o.header.hasFileName &&
               header.contentType == o.header.contentType && data == o.data;
    }
};

struct Result
{
    std::vector<Part> parts;
    bool complete = false;
    bool failed = false;
    bool operator==(const Result &o) const = default;
};

// Bytes the reader may hold between the end of one part's header and the
// data it hands on: a delimiter, its padding and the next part's header.
std::size_t holdLimit(const std::string &boundary)
{
    return boundary.size() + 4 + 256 + 2 + MultipartReader::maxPartHeaderBytes + 4;
}

// Feeds `body` in the pieces `cuts` gives (ascending offsets); the reader
// refuses part number `refuseAt` when that is set.
Result read(const std::string &boundary, std::string_view body, const std::vector<size_t> &cuts,
            size_t refuseAt = SIZE_MAX, bool watchHolding = false)
{
    Result result;
    std::size_t fedSincePart = 0;
    std::size_t handedSincePart = 0;
    MultipartReader reader(
        boundary,
        [&](const MultipartReader::PartHeader &header) {
            check(header.name.size() + header.fileName.size() + header.contentType.size() <=
                  MultipartReader::maxPartHeaderBytes);
            check(header.fileName.empty() || header.hasFileName);
            if (result.parts.size() == refuseAt)
                return false;
            result.parts.push_back({header, {}});
            fedSincePart = handedSincePart = 0;
            return true;
        },
        [&](std::string_view data) {
            check(!result.parts.empty() && !data.empty());
            result.parts.back().data.append(data);
            handedSincePart += data.size();
            return true;
        });
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t to = i < cuts.size() ? cuts[i] : body.size();
        const bool ok = reader.feed(body.substr(from, to - from));
        check(ok == !reader.hasFailed());
        check(!(reader.isComplete() && reader.hasFailed()));
        fedSincePart += to - from;
        if (watchHolding && !result.parts.empty() && !reader.isComplete() && ok)
            check(fedSincePart - handedSincePart <= holdLimit(boundary));
        from = to;
    }
    result.complete = reader.isComplete();
    result.failed = reader.hasFailed();
    const std::string delimiter = "\r\n--" + boundary;
    for (const Part &part : result.parts)
        check(part.data.find(delimiter) == std::string::npos);
    return result;
}

// The same result for every way of cutting the body.
Result checkSplits(const std::string &boundary, std::string_view body, uint64_t seed)
{
    const Result whole = read(boundary, body, {});
    std::vector<size_t> bytes;
    for (size_t i = 1; i < body.size(); ++i)
        bytes.push_back(i);
    check(read(boundary, body, bytes, SIZE_MAX, true) == whole);
    std::mt19937_64 random(seed);
    for (int round = 0; round < 3; ++round) {
        std::vector<size_t> cuts;
        size_t at = 0;
        while (!body.empty()) {
            at += 1 + random() % (round == 0 ? 4 : round == 1 ? boundary.size() + 6 : 64);
            if (at >= body.size())
                break;
            cuts.push_back(at);
        }
        check(read(boundary, body, cuts) == whole);
    }
    // A refused part stops reading after the parts before it, data and all.
    if (!whole.parts.empty()) {
        const size_t refuseAt = seed % whole.parts.size();
        const Result refused = read(boundary, body, {}, refuseAt);
        check(refused.failed && !refused.complete && refused.parts.size() == refuseAt);
        for (size_t i = 0; i < refuseAt; ++i)
            check(refused.parts[i] == whole.parts[i]);
    }
    return whole;
}

void rawRequest(std::string_view request, uint64_t seed)
{
    std::string boundary = "b0undary";
    std::string_view body = request;
    const auto headEnd = request.find("\r\n\r\n");
    if (headEnd != std::string_view::npos) {
        body = request.substr(headEnd + 4);
        for (const auto &[name, value] : HeaderText::splitHeaderLines(request.substr(0, headEnd))) {
            if (HeaderText::lower(name) != "content-type")
                continue;
            const std::optional<std::string> found = MultipartReader::boundaryOf(value);
            if (found) {
                check(!found->empty() && found->size() <= 70 &&
                      found->find_first_of("\r\n") == std::string::npos);
                boundary = *found;
            }
        }
    }
    checkSplits(boundary, body, seed);
}

// Names escaped inside quotes by the client's own writer.
std::string quoted(const std::string &name)
{
    return MultipartBody::quotedFileName(QByteArray::fromStdString(name)).toStdString();
}

void writtenBody(FuzzedDataProvider &input, uint64_t seed)
{
    static const char boundaryChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'()+_,-./:=? ";
    std::string boundary;
    const size_t boundaryLength = input.ConsumeIntegralInRange<size_t>(1, 70);
    for (size_t i = 0; i < boundaryLength; ++i)
        boundary += boundaryChars[input.ConsumeIntegralInRange<size_t>(0, sizeof boundaryChars - 2)];
    if (boundary.back() == ' ')
        boundary.back() = 'z';
    const std::string delimiter = "\r\n--" + boundary;
    bool clean = true;

    std::string body = input.ConsumeBool() ? input.ConsumeRandomLengthString(32) : std::string();
    clean = clean && ("\r\n" + body + "\r\n").find(delimiter) == std::string::npos;
    std::vector<Part> expected;
    const int count = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        Part part;
        part.header.name = quoted(input.ConsumeRandomLengthString(24));
        part.header.hasFileName = input.ConsumeBool();
        if (part.header.hasFileName)
            part.header.fileName = quoted(input.ConsumeRandomLengthString(48));
        if (input.ConsumeBool())
            part.header.contentType = input.PickValueInArray(
                {"application/octet-stream", "image/png", "text/plain; charset=utf-8"});
        part.data = input.ConsumeRandomLengthString(256);
        clean = clean && ("\r\n" + part.data).find(delimiter) == std::string::npos;
        body += (i == 0 && body.empty() ? "--" : "\r\n--") + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + part.header.name + "\"";
        if (part.header.hasFileName)
            body += "; filename=\"" + part.header.fileName + "\"";
        body += "\r\n";
        if (!part.header.contentType.empty())
            body += "Content-Type: " + part.header.contentType + "\r\n";
        body += "\r\n" + part.data;
        expected.push_back(part);
    }
    if (count == 0)
        body += "\r\n";
    body += "\r\n--" + boundary + "--\r\n" + input.ConsumeRemainingBytesAsString();

    const Result result = checkSplits(boundary, body, seed);
    if (clean) {
        check(result.complete && !result.failed);
        check(result.parts == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint64_t seed = 1469598103934665603ULL;
    for (size_t i = 0; i < size; ++i)
        seed = (seed ^ data[i]) * 1099511628211ULL;
    if (size > 0 && data[0] == 'P') {
        rawRequest(std::string_view(reinterpret_cast<const char *>(data), size), seed);
    } else {
        FuzzedDataProvider input(data, size);
        writtenBody(input, seed);
    }
    return 0;
}
