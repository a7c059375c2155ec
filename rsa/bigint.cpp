// XBigInt: the class template at the limb width of this build.
#include "rsa/bigint_impl.h"

template class XBigIntT<XBigIntLimb>;
