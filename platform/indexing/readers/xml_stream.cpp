#include "platform/indexing/readers/xml_stream.h"

#include <expat.h>

#include <algorithm>
#include <memory>

#include "platform/indexing/readers/text_sink.h"

namespace qv::platform::readers {
namespace {

// Separates a namespace URI from the local name in the names the parser hands out.
constexpr char kNsSeparator = '\x01';
// The input goes to the parser in pieces, so that a stop takes effect soon.
constexpr std::size_t kFeedBytes = 64 * 1024;

XmlName SplitName(const char* raw) {
  const std::string_view s(raw);
  const auto at = s.find(kNsSeparator);
  if (at == std::string_view::npos) return {{}, s};
  return {s.substr(0, at), s.substr(at + 1)};
}

struct ParserDeleter {
  void operator()(XML_Parser p) const { XML_ParserFree(p); }
};

struct ParseState {
  XML_Parser parser = nullptr;
  XmlHandler& handler;
  const ReaderLimits& limits;
  std::uint32_t depth = 0;
  HRESULT failure = S_OK;

  void Stop(HRESULT why) {
    if (failure == S_OK) failure = why;
    XML_StopParser(parser, XML_FALSE);
  }
};

void OnStart(void* data, const XML_Char* name, const XML_Char** attrs) {
  auto& st = *static_cast<ParseState*>(data);
  if (++st.depth > st.limits.maxDepth) return st.Stop(kLimitExceeded);
  st.handler.StartElement(SplitName(name), attrs);
  if (st.handler.Done()) XML_StopParser(st.parser, XML_FALSE);
}

void OnEnd(void* data, const XML_Char* name) {
  auto& st = *static_cast<ParseState*>(data);
  --st.depth;
  st.handler.EndElement(SplitName(name));
}

void OnText(void* data, const XML_Char* s, int len) {
  auto& st = *static_cast<ParseState*>(data);
  st.handler.Text(std::string_view(s, static_cast<std::size_t>(len)));
  if (st.handler.Done()) XML_StopParser(st.parser, XML_FALSE);
}

// Any entity declaration refuses the document: nothing legitimate in the formats read here
// declares one, and expansion is how a small file becomes a huge one.
void OnEntityDecl(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                  const XML_Char*, const XML_Char*, const XML_Char*) {
  static_cast<ParseState*>(data)->Stop(FILTER_E_UNKNOWNFORMAT);
}

// An entity that an unread external DTD would define (&nbsp; in XHTML) reads as a blank.
void OnSkippedEntity(void* data, const XML_Char*, int isParameter) {
  if (!isParameter) static_cast<ParseState*>(data)->handler.Text(" ");
}

// External entities are never fetched.
int OnExternalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                     const XML_Char*) {
  return XML_STATUS_ERROR;
}

}  // namespace

std::string_view XmlAttr(const char** attrs, std::string_view local) {
  if (!attrs) return {};
  for (; attrs[0] && attrs[1]; attrs += 2) {
    if (SplitName(attrs[0]).local == local) return attrs[1];
  }
  return {};
}

HRESULT ParseXml(std::string_view bytes, const ReaderLimits& limits, XmlHandler& handler) {
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(
      XML_ParserCreateNS(nullptr, kNsSeparator));
  if (!parser) return E_OUTOFMEMORY;
  ParseState st{parser.get(), handler, limits};
  XML_SetUserData(parser.get(), &st);
  XML_SetElementHandler(parser.get(), OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser.get(), OnText);
  XML_SetEntityDeclHandler(parser.get(), OnEntityDecl);
  XML_SetSkippedEntityHandler(parser.get(), OnSkippedEntity);
  XML_SetExternalEntityRefHandler(parser.get(), OnExternalEntity);
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
  do {
    const std::size_t n = std::min(bytes.size(), kFeedBytes);
    const bool last = n == bytes.size();
    const XML_Status status =
        XML_Parse(parser.get(), bytes.data(), static_cast<int>(n), last ? XML_TRUE : XML_FALSE);
    bytes.remove_prefix(n);
    if (st.failure != S_OK) return st.failure;
    if (status == XML_STATUS_SUSPENDED) break;
    if (status == XML_STATUS_ERROR) {
      // A stop asked for by the handler is success; anything else is a broken document.
      if (XML_GetErrorCode(parser.get()) == XML_ERROR_ABORTED && handler.Done()) break;
      return FILTER_E_UNKNOWNFORMAT;
    }
    if (last) break;
  } while (true);
  return S_OK;
}

}  // namespace qv::platform::readers
