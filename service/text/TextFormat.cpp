// SPDX-License-Identifier: Apache-2.0
#include "service/text/TextFormat.h"

#include <cctype>

namespace matrix::service::text {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool Token::is(std::string_view upperWord) const
{
    if (quoted || text.size() != upperWord.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != upperWord[i])
            return false;
    return true;
}

std::optional<std::vector<Token>> tokenize(std::string_view line)
{
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        if (isSpace(line[i])) {
            ++i;
            continue;
        }
        Token token;
        if (line[i] == '"') {
            token.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < line.size())
                    token.text.push_back(line[i++]);
                else
                    token.text.push_back(c);
            }
            if (!closed)
                return std::nullopt;
        } else {
            while (i < line.size() && !isSpace(line[i]) && line[i] != '"')
                token.text.push_back(line[i++]);
            if (token.text.size() > 1 && token.text.back() == '?') {
                token.text.pop_back();
                tokens.push_back(std::move(token));
                token = Token{"?", false};
            }
        }
        tokens.push_back(std::move(token));
        if (tokens.back().quoted && i < line.size() && line[i] == '?') {
            tokens.push_back(Token{"?", false});
            ++i;
        }
    }
    return tokens;
}

std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(byte < 0x20 || byte == 0x7F ? ' ' : c);
    }
    out.push_back('"');
    return out;
}

std::string outputLetter(int output) { return std::string(1, static_cast<char>('A' + output - 1)); }

std::string eventLine(const Event& event)
{
    const auto onOff = [](bool on) { return on ? "ON" : "OFF"; };
    const std::string side = event.onInput ? "IN " + std::to_string(event.port) : "OUT " + outputLetter(event.port);
    switch (event.kind) {
    case Event::Kind::Route: return "EVENT ROUTE " + outputLetter(event.port) + " " + std::to_string(event.input);
    case Event::Kind::Link: return std::string("EVENT LINK ") + (event.on ? "UP" : "DOWN");
    case Event::Kind::Cable: return "EVENT CABLE " + side + " " + onOff(event.on);
    case Event::Kind::Beep: return std::string("EVENT BEEP ") + onOff(event.on);
    case Event::Kind::Name: return "EVENT NAME " + side + " " + quoted(event.text);
    case Event::Kind::Scene: return "EVENT SCENE " + (event.on ? quoted(event.text) : std::string("NONE"));
    }
    return {};
}

std::string okLine(std::string_view text) { return "OK " + std::string(text) + "\r\n"; }

std::string errLine(int code, std::string_view text)
{
    return "ERR " + std::to_string(code) + " " + std::string(text) + "\r\n";
}

}  // namespace matrix::service::text
