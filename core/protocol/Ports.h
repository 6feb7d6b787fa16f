// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace matrix {

// An input of the matrix by its number (1..8 on the wire, 1..4 on the box).
// Inputs and outputs are distinct types, so a route's two ports cannot be
// swapped without the compiler noticing: Input{2}, Output::B.
class Input {
public:
    constexpr explicit Input(int number) : number_(number) {}
    constexpr int number() const { return number_; }
    constexpr bool isAll() const { return number_ == 0; }
    constexpr bool operator==(const Input&) const = default;

    // The EDID commands' target "every input".
    static const Input All;

private:
    int number_;
};

// An output by its number; the box names its four A to D.
class Output {
public:
    constexpr explicit Output(int number) : number_(number) {}
    constexpr int number() const { return number_; }
    constexpr char letter() const { return static_cast<char>('A' + number_ - 1); }
    constexpr bool operator==(const Output&) const = default;

    static const Output A, B, C, D;

private:
    int number_;
};

inline constexpr Input Input::All{0};
inline constexpr Output Output::A{1};
inline constexpr Output Output::B{2};
inline constexpr Output Output::C{3};
inline constexpr Output Output::D{4};

}  // namespace matrix
