#pragma once
// Stream parsing of the XML inside documents, without ever building a tree of it. A document
// that declares entities is refused (no entity expansion, internal or external), and element
// nesting deeper than ReaderLimits::maxDepth fails the parse.
#include <memory>
#include <string_view>

#include "platform/indexing/document_text.h"

namespace qv::platform::readers {

struct XmlName {
  std::string_view ns;     // namespace URI, empty when none
  std::string_view local;  // local name
};

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  // `attrs` alternates namespace-expanded names and values, ending with null; use XmlAttr.
  virtual void StartElement(XmlName name, const char** attrs) = 0;
  virtual void EndElement(XmlName name) = 0;
  virtual void Text(std::string_view text) = 0;
  // True to end the parse early (with success), as when the text limit is reached.
  virtual bool Done() const { return false; }
};

// The value of the attribute with this local name (any namespace), or empty.
std::string_view XmlAttr(const char** attrs, std::string_view local);

// A parse fed piece by piece, so that a document never needs to be in memory whole.
class XmlStreamParser {
 public:
  XmlStreamParser(const ReaderLimits& limits, XmlHandler& handler);
  ~XmlStreamParser();
  XmlStreamParser(const XmlStreamParser&) = delete;
  XmlStreamParser& operator=(const XmlStreamParser&) = delete;

  // S_OK to go on, S_FALSE when the handler is done (feed no more); FILTER_E_UNKNOWNFORMAT
  // for XML that is not well-formed or declares entities; kLimitExceeded for nesting past
  // the limit. `last` marks the final piece.
  HRESULT Feed(std::string_view piece, bool last);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The whole of `bytes` through an XmlStreamParser: S_OK or the parser's error.
HRESULT ParseXml(std::string_view bytes, const ReaderLimits& limits, XmlHandler& handler);

}  // namespace qv::platform::readers
