#include "random/random.h"

#include <cerrno>
#include <stdexcept>
#include <sys/random.h>

void SystemEntropy(uint8_t* out, size_t length)
{
    while (length > 0) {
        const ssize_t n = getrandom(out, length, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("getrandom failed");
        }
        out += n;
        length -= size_t(n);
    }
}
