#pragma once
// Puts one finished page capture into the URL cache, where the web history finds it: the
// copy under its content URL (once per distinct content), and the page's version index
// updated to list this capture, records kept in ascending capture time. Every entry made
// goes into the cache group "QuillonL2".
#include "browser/addon/page_capture.h"
#include "common/hresult.h"
#include "context/context.h"
#include "platform/urlcache/url_cache.h"

namespace qv::browser {

// S_OK when stored; S_FALSE when the index already held this content as its version at the
// capture time (nothing new was written). Failures write 0xC0000203 (the copy) or
// 0xC0000205 (the index); the capture's file is removed unless it became the copy.
HRESULT StoreCapture(const Context& ctx, platform::UrlCache& cache, PageCapture& capture);

}  // namespace qv::browser
