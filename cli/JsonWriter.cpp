// SPDX-License-Identifier: Apache-2.0
#include "cli/JsonWriter.h"

#include <cstdio>

namespace matrix::cli {

std::string JsonWriter::quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                // UTF-8 passes through unchanged: JSON text is UTF-8.
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

void JsonWriter::beforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasElement_.empty()) {
        if (hasElement_.back())
            out_ += ",";
        hasElement_.back() = true;
    }
}

JsonWriter& JsonWriter::beginObject()
{
    beforeValue();
    out_ += "{";
    hasElement_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endObject()
{
    out_ += "}";
    hasElement_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray()
{
    beforeValue();
    out_ += "[";
    hasElement_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endArray()
{
    out_ += "]";
    hasElement_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(const std::string& name)
{
    beforeValue();
    out_ += quote(name) + ":";
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(const std::string& text)
{
    beforeValue();
    out_ += quote(text);
    return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number)
{
    beforeValue();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag)
{
    beforeValue();
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null()
{
    beforeValue();
    out_ += "null";
    return *this;
}

}  // namespace matrix::cli
