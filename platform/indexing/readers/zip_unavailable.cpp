// Built in place of the zip document readers when libzip or expat is not installed.
#include "platform/indexing/readers/document_readers.h"

namespace qv::platform::readers {

HRESULT ReadZipDocument(std::string_view, const ReaderLimits&, DocumentText&) {
  return E_NOTIMPL;
}

}  // namespace qv::platform::readers
