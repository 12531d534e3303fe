#include "browser/host/host_messages.h"

#include <cmath>

#include "browser/addon/addon_constants.h"
#include "browser/host/base64.h"
#include "browser/host/json_reader.h"

namespace qv::browser {
namespace {

using Type = JsonValue::Type;

class Fields {
 public:
  Fields(const JsonValue& object, std::string& error) : o_(object), error_(error) {}

  bool Text(std::string_view name, std::string& out, bool required = false) {
    const JsonValue* v = o_.Find(name);
    if (!v || v->type == Type::Null) return !required || Fail(name, "is missing");
    if (v->type != Type::String) return Fail(name, "is not a string");
    out = v->string;
    return true;
  }
  bool Flag(std::string_view name, bool& out) {
    const JsonValue* v = o_.Find(name);
    if (!v || v->type == Type::Null) return true;
    if (v->type != Type::Bool) return Fail(name, "is not true or false");
    out = v->boolean;
    return true;
  }
  bool Tab(std::int64_t& out) {
    const JsonValue* v = o_.Find("tab");
    if (!v) return Fail("tab", "is missing");
    if (v->type != Type::Number || v->number < 0 || v->number > 2147483647.0 ||
        std::floor(v->number) != v->number) {
      return Fail("tab", "is not a tab number");
    }
    out = static_cast<std::int64_t>(v->number);
    return true;
  }
  bool Fail(std::string_view name, std::string_view why) {
    error_ = "\"" + std::string(name) + "\" " + std::string(why);
    return false;
  }

 private:
  const JsonValue& o_;
  std::string& error_;
};

bool ReadFrame(const JsonValue& v, FrameDocument& out, std::size_t depth, std::string& error) {
  if (v.type != Type::Object) {
    error = "a frame is not an object";
    return false;
  }
  Fields f(v, error);
  if (!f.Text("url", out.url, true) || !f.Text("charset", out.charset) ||
      !f.Flag("hasFrames", out.hasFrames)) {
    return false;
  }
  if (const JsonValue* metas = v.Find("metas"); metas && metas->type != Type::Null) {
    if (metas->type != Type::Array) return f.Fail("metas", "is not a list");
    for (const JsonValue& m : metas->items) {
      if (m.type != Type::Object) return f.Fail("metas", "holds something other than objects");
      MetaTag tag;
      Fields mf(m, error);
      if (!mf.Text("name", tag.name) || !mf.Text("content", tag.content)) return false;
      out.metas.push_back(std::move(tag));
    }
  }
  if (const JsonValue* frames = v.Find("frames"); frames && frames->type != Type::Null) {
    if (frames->type != Type::Array) return f.Fail("frames", "is not a list");
    // Frames below the deepest level kept in the frame data are not read at all.
    if (depth >= kMaxFrameDepth) return true;
    for (const JsonValue& child : frames->items) {
      if (!ReadFrame(child, out.frames.emplace_back(), depth + 1, error)) return false;
    }
  }
  return true;
}

}  // namespace

bool ParseHostMessage(std::string_view json, HostMessage& out, std::string& error) {
  JsonValue v;
  if (!ParseJson(json, v, error)) return false;
  if (v.type != Type::Object) {
    error = "a message is a JSON object";
    return false;
  }
  Fields f(v, error);
  std::string type;
  if (!f.Text("type", type, true)) return false;
  if (type == "navigate") {
    NavigateMessage m;
    if (!f.Tab(m.tab) || !f.Text("url", m.url, true)) return false;
    out = std::move(m);
  } else if (type == "document") {
    DocumentMessage m;
    if (!f.Tab(m.tab) || !f.Text("title", m.title)) return false;
    const JsonValue* frame = v.Find("frame");
    if (!frame) return f.Fail("frame", "is missing");
    if (!ReadFrame(*frame, m.top, 0, error)) return false;
    out = std::move(m);
  } else if (type == "page") {
    PageMessage m;
    std::string body;
    if (!f.Tab(m.tab) || !f.Text("url", m.url, true) || !f.Text("title", m.title) ||
        !f.Flag("top", m.top) || !f.Text("requestHeaders", m.requestHeaders) ||
        !f.Text("responseHeaders", m.responseHeaders) || !f.Text("body", body, true)) {
      return false;
    }
    if (!DecodeBase64(body, m.body)) return f.Fail("body", "is not base64");
    out = std::move(m);
  } else if (type == "closed") {
    ClosedMessage m;
    if (!f.Tab(m.tab)) return false;
    out = m;
  } else if (type == "flush") {
    out = FlushMessage{};
  } else {
    error = "unknown message type \"" + type + "\"";
    return false;
  }
  return true;
}

}  // namespace qv::browser
