#include "platform/indexing/readers/xml_stream.h"

#include <expat.h>

#include <algorithm>

#include "platform/indexing/readers/text_sink.h"

namespace qv::platform::readers {
namespace {

// Separates a namespace URI from the local name in the names the parser hands out.
constexpr char kNsSeparator = '\x01';
// Input goes to the parser in pieces of at most this size, so that a stop takes effect soon.
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

}  // namespace

struct XmlStreamParser::State {
  State(const ReaderLimits& l, XmlHandler& h)
      : parser(XML_ParserCreateNS(nullptr, kNsSeparator)), handler(h), limits(l) {}

  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser;
  XmlHandler& handler;
  const ReaderLimits& limits;
  std::uint32_t depth = 0;
  HRESULT failure = S_OK;
  bool done = false;

  void Stop(HRESULT why) {
    if (failure == S_OK) failure = why;
    XML_StopParser(parser.get(), XML_FALSE);
  }
  void CheckDone() {
    if (handler.Done()) {
      done = true;
      XML_StopParser(parser.get(), XML_FALSE);
    }
  }

  static void OnStart(void* data, const XML_Char* name, const XML_Char** attrs) {
    auto& st = *static_cast<State*>(data);
    if (++st.depth > st.limits.maxDepth) return st.Stop(kLimitExceeded);
    st.handler.StartElement(SplitName(name), attrs);
    st.CheckDone();
  }
  static void OnEnd(void* data, const XML_Char* name) {
    auto& st = *static_cast<State*>(data);
    --st.depth;
    st.handler.EndElement(SplitName(name));
  }
  static void OnText(void* data, const XML_Char* s, int len) {
    auto& st = *static_cast<State*>(data);
    st.handler.Text(std::string_view(s, static_cast<std::size_t>(len)));
    st.CheckDone();
  }
  // Any entity declaration refuses the document: nothing legitimate in the formats read
  // here declares one, and expansion is how a small file becomes a huge one.
  static void OnEntityDecl(void* data, const XML_Char*, int, const XML_Char*, int,
                           const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<State*>(data)->Stop(FILTER_E_UNKNOWNFORMAT);
  }
  // An entity that an unread external DTD would define (&nbsp; in XHTML) reads as a blank.
  static void OnSkippedEntity(void* data, const XML_Char*, int isParameter) {
    if (!isParameter) static_cast<State*>(data)->handler.Text(" ");
  }
  // External entities are never fetched.
  static int OnExternalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                              const XML_Char*) {
    return XML_STATUS_ERROR;
  }
};

std::string_view XmlAttr(const char** attrs, std::string_view local) {
  if (!attrs) return {};
  for (; attrs[0] && attrs[1]; attrs += 2) {
    if (SplitName(attrs[0]).local == local) return attrs[1];
  }
  return {};
}

XmlStreamParser::XmlStreamParser(const ReaderLimits& limits, XmlHandler& handler)
    : state_(std::make_unique<State>(limits, handler)) {
  XML_Parser p = state_->parser.get();
  if (!p) return;
  XML_SetUserData(p, state_.get());
  XML_SetElementHandler(p, State::OnStart, State::OnEnd);
  XML_SetCharacterDataHandler(p, State::OnText);
  XML_SetEntityDeclHandler(p, State::OnEntityDecl);
  XML_SetSkippedEntityHandler(p, State::OnSkippedEntity);
  XML_SetExternalEntityRefHandler(p, State::OnExternalEntity);
  XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlStreamParser::~XmlStreamParser() = default;

HRESULT XmlStreamParser::Feed(std::string_view piece, bool last) {
  State& st = *state_;
  if (!st.parser) return E_OUTOFMEMORY;
  if (st.failure != S_OK) return st.failure;
  if (st.done) return S_FALSE;
  do {
    const std::size_t n = std::min(piece.size(), kFeedBytes);
    const bool final = last && n == piece.size();
    const XML_Status status = XML_Parse(st.parser.get(), piece.data(), static_cast<int>(n),
                                        final ? XML_TRUE : XML_FALSE);
    piece.remove_prefix(n);
    if (st.failure != S_OK) return st.failure;
    if (st.done) return S_FALSE;
    if (status != XML_STATUS_OK) return FILTER_E_UNKNOWNFORMAT;
  } while (!piece.empty());
  return S_OK;
}

HRESULT ParseXml(std::string_view bytes, const ReaderLimits& limits, XmlHandler& handler) {
  XmlStreamParser parser(limits, handler);
  const HRESULT hr = parser.Feed(bytes, true);
  return hr == S_FALSE ? S_OK : hr;
}

}  // namespace qv::platform::readers
