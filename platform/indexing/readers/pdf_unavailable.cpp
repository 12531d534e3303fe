// Built in place of the PDF reader when poppler's C++ library is not installed.
#include "platform/indexing/readers/document_readers.h"

namespace qv::platform::readers {

HRESULT ReadPdf(std::string_view, const ReaderLimits&, DocumentText&) { return E_NOTIMPL; }

}  // namespace qv::platform::readers
