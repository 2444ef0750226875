// Writes COUNT REG_DWORD values "PREFIX-i" = i below HKCU\Concurrency, each in a
// transaction of its own. Exits 1 when any write was refused.
#include <cstdio>
#include <cstdlib>

#include "platform/registry/registry.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lyb_registry_writer PREFIX COUNT\n");
        return 2;
    }
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    const int count = std::atoi(argv[2]);
    int refused = 0;
    for (int i = 0; i < count; ++i) {
        const auto key = lyb::reg::Key::create(lyb::reg::Hive::CurrentUser, "Concurrency");
        if (!key || !key->writeDword(QStringLiteral("%1-%2").arg(prefix).arg(i), uint32_t(i))) {
            ++refused;
        }
    }
    if (refused > 0)
        std::fprintf(stderr, "%d writes refused\n", refused);
    return refused == 0 ? 0 : 1;
}
