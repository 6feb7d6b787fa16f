// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace matrix::cli {

// A small streaming JSON writer: enough for one document per run, with
// commas and escaping handled here so that callers cannot get them wrong.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(const std::string& name);
    JsonWriter& value(const std::string& text);
    JsonWriter& value(const char* text) { return value(std::string(text)); }
    JsonWriter& value(std::int64_t number);
    JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
    JsonWriter& value(bool flag);
    JsonWriter& null();

    template <typename T>
    JsonWriter& field(const std::string& name, const T& v)
    {
        key(name);
        return value(v);
    }

    const std::string& text() const { return out_; }

    static std::string quote(const std::string& text);

private:
    void beforeValue();
    std::string out_;
    // One entry per open container: true once it holds an element.
    std::vector<bool> hasElement_;
    bool afterKey_ = false;
};

}  // namespace matrix::cli
