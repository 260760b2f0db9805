// Writes one settings key many times, as a login window does keystroke by keystroke, and checks
// before each write that its previous value is still there: another program writing the store
// at the same time must not bring an older one back.
//   settings_writer KEY COUNT
// Exit status 0 when every write got there and stayed, else 1.

#include "settings/Settings.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const QString key = QString::fromLatin1(argv[1]);
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        if (i > 0 && orv::settings::ReadSetting(key) != key + QString::number(i - 1)) {
            std::fprintf(stderr, "%s: write %d lost\n", argv[1], i - 1);
            return 1;
        }
        if (!orv::settings::WriteSetting(key, key + QString::number(i))) {
            std::fprintf(stderr, "%s: write %d failed\n", argv[1], i);
            return 1;
        }
    }
    return 0;
}
