// The 32-bit-limb XBigIntT on a build whose XBigInt has 64-bit limbs: the
// tests and benchmarks run the narrow path (the one of the i686 build)
// natively.  The product does not refer to it, so the linker leaves it out of
// the DLLs.
#include "rsa/bigint_impl.h"

#if ZEL_BIGINT_HAVE_LIMB64
template class XBigIntT<uint32_t>;
#endif
