#include "common/Error.h"

namespace LastError {
namespace {
thread_local ErrorTriple t_record;
}

void Set(long number, const QString &source, const QString &description)
{
    t_record = ErrorTriple{number, source, description};
}

const ErrorTriple &Get() { return t_record; }

void Clear() { t_record = ErrorTriple{}; }
} // namespace LastError
