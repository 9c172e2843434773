// The XML loader against expat on the same bytes: both must take a document as well-formed, or both
// refuse it. Only bytes that the loader reads as UTF-8 as they stand are compared (expat decodes
// fewer encodings); a document without a root element counts as refused, as the engine's readers
// refuse it. Where the two differ by design, the input is left alone:
// - expat's names follow the character tables of XML 1.0 before its fifth edition;
// - expat stops at its own limit of entity amplification, the loader at entities nested 200 deep;
// - expat takes any version in the XML declaration, where XML 1.0 asks for "1." and digits.
#include "Companion/TarnXMLText.h"
#include "Companion/TarnXMLUtils.h"
#include "FuzzSupport.h"

#include <expat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size) {
    const std::string Bytes = fuzz::Input(Data, Size);
    std::string Converted;
    try {
        if (XMLTextToUtf8(Bytes, "fuzz.xml", Converted)) return 0;
    } catch (const EORVException&) {
        return 0;
    }
    bool Ours = false;
    std::string Message = "no root element";
    try {
        Ours = static_cast<bool>(LoadXMLDocumentFromString(Bytes, "fuzz.xml")->GetDocumentElement());
    } catch (const EORVException& E) {
        Message = E.what();
    }
    fuzz::CheckNothingLeft();

    XML_Parser Parser = XML_ParserCreate("UTF-8");
    XML_SetParamEntityParsing(Parser, XML_PARAM_ENTITY_PARSING_UNLESS_STANDALONE);
    const bool Theirs = XML_Parse(Parser, reinterpret_cast<const char*>(Data), static_cast<int>(Size), 1) == XML_STATUS_OK;
    const XML_Error Error = XML_GetErrorCode(Parser);
    const XML_Size Line = XML_GetCurrentLineNumber(Parser), Column = XML_GetCurrentColumnNumber(Parser);
    XML_ParserFree(Parser);
    if (Ours == Theirs) return 0;

    bool NonAscii = false;
    for (std::size_t I = 0; I < Size && !NonAscii; ++I) NonAscii = Data[I] >= 0x80;
    if (!Theirs && NonAscii && (Error == XML_ERROR_INVALID_TOKEN || Error == XML_ERROR_SYNTAX)) return 0;
    if (!Theirs && Error == XML_ERROR_AMPLIFICATION_LIMIT_BREACH) return 0;
    if (!Ours && Message.find("nested too deeply") != std::string::npos) return 0;
    if (!Ours && Message.find("is not 1.x") != std::string::npos) return 0;

    std::fprintf(stderr, "the XML loader %s this input, expat %s it\n  loader: %s\n  expat: %s (line %lu, column %lu)\n",
                 Ours ? "accepts" : "refuses", Theirs ? "accepts" : "refuses", Message.c_str(),
                 Theirs ? "-" : XML_ErrorString(Error), static_cast<unsigned long>(Line),
                 static_cast<unsigned long>(Column + 1));
    std::abort();
}
