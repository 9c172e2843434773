// Text of the engine as the tools write it: UTF-8, with nothing a terminal would act on.
#ifndef ORV_TOOL_TEXT_H
#define ORV_TOOL_TEXT_H

#include <string>

// Text in the engine's encoding (the process code page) as UTF-8, the tools' output encoding.
std::string ToUtf8(const std::string& Text);

// A UTF-8 text in the engine's encoding: the process code page, as the engine converts its
// message table (characters the code page lacks become its default character).
std::string FromUtf8(const std::string& Utf8);

// Text in the engine's encoding as UTF-8 that a terminal shows and does not act on: control
// characters (escape sequences among them) written as \xNN or \u00NN; line feeds and tabs stay,
// and a carriage return before a line feed is dropped.
std::string Printable(const std::string& Text);

#endif
