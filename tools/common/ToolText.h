// Text of the engine as the tools write it: UTF-8, with nothing a terminal would act on, and the
// line breaks of data escaped so that data cannot pass for a line of its own.
#ifndef ORV_TOOL_TEXT_H
#define ORV_TOOL_TEXT_H

#include <ORVInterface.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Text in the engine's encoding (the process code page) as UTF-8, the tools' output encoding.
std::string ToUtf8(const std::string& Text);

// A UTF-8 text in the engine's encoding: the process code page, as the engine converts its
// message table (characters the code page lacks become its default character).
std::string FromUtf8(const std::string& Utf8);

// Whether Text holds a well-formed UTF-8 sequence at At, as orv::DecodeUtf8 (Common/ORVText.h)
// reads it: Length receives its length, or, when it is not well-formed, the length of the maximal
// ill-formed part there (at least 1), which counts as one character.
bool Utf8SequenceAt(const std::string& Text, std::size_t At, std::size_t& Length);

// Text in the engine's encoding as UTF-8 that a terminal shows and does not act on: control
// characters (escape sequences among them) and bytes that are not UTF-8 written as \xNN, the C1
// controls and the Unicode line and paragraph separators as \uNNNN; line feeds and tabs stay, and
// a carriage return before a line feed is dropped. For the lines the engine writes itself.
std::string Printable(const std::string& Text);

// Printable for text from data (ids, names, paths, messages that plug-ins raise), with line feeds
// and carriage returns written as \x0A and \x0D too: it stays within the line it is written in.
std::string PrintableData(const std::string& Text);

// A formatted line of the engine (orv::FormatArgs of Template and Args) as Printable writes it:
// the line breaks of the template are kept, those of the arguments escaped as PrintableData does.
std::string PrintableFormat(const std::string& Template, const orv::TVarRec* Args, int32_t High);

#endif
