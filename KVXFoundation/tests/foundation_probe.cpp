// Started from inside a bundle, finds the library only where the framework
// layout puts it.

#include <cstdio>

#include "KVXFoundation/KVXNSStringAdditions.h"

int main() {
    const QString words = KVXNSStringAdditions::properStringForInt(3, true, false);
    return std::printf("%s\n", words.toUtf8().constData()) > 0 ? 0 : 1;
}
