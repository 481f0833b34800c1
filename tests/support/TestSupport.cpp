#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace TestSupport {

QString MakeTempFolder()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    folders.push_back(std::make_unique<QTemporaryDir>());
    return folders.back()->path();
}

} // namespace TestSupport
