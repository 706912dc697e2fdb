#include "core/store/CrashDebris.h"

namespace quillax {

bool IsStalePartFile(const QString&) {
    return false;
}

int RemoveCrashDebris(const KeptQueue&, const QStringList&) {
    return 0;
}

} // namespace quillax
