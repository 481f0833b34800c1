// Leaves main() while a name lookup hangs in the resolver, as the program
// does when its window is closed while the server's name resolves. Exits
// with 0 once the lookup was under way; the test sees how long that takes.
#include "net/CSocket.h"
#include "net/modSocketSupport.h"

#include <QCoreApplication>
#include <chrono>
#include <semaphore>
#include <thread>

namespace
{
// Outlives main(): the lookup thread still runs after it.
std::binary_semaphore g_entered(0);
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    modSocketSupport::SetBlockingResolver([](const QByteArray &) {
        g_entered.release();
        std::this_thread::sleep_for(std::chrono::minutes(10));
        return modSocketSupport::LookupResult{11002, {}, 0};
    });
    CSocket socket;
    socket.Connect(QStringLiteral("hangs.example"), 119);
    if (socket.State() != 4)
        return 2;
    if (!g_entered.try_acquire_for(std::chrono::seconds(30)))
        return 3;
    return 0;
}
