#pragma once

// The rules of the application's default handler, which shows what an event handler raised in
// a modal box titled with the application's title, with a stop icon and one OK button.
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

// The whole message of an exception that a handler caught.
std::string MessageOf(const std::exception& error);

// A message longer than this is cut, so that its box fits the screen.
inline constexpr std::size_t kMaxBoxCharacters = 400;

// The text the box shows for a message (UTF-16, as both toolkits take it): a final "." added
// when the message is not empty and its last character's code is greater than that of ".";
// every control character visible; a message too long to fit cut with "…".
std::u16string BoxText(std::u16string_view message);
