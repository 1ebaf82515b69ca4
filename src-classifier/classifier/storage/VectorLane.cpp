#include "classifier/storage/VectorLane.h"

namespace norvale::classifier::storage {

template class VectorLane<0>;
template class VectorLane<1>;
template class VectorLane<2>;
template class VectorLane<3>;
template class VectorLane<4>;
template class VectorLane<5>;
template class VectorLane<6>;
template class VectorLane<7>;
template class VectorLane<8>;
template class VectorLane<9>;
template class VectorLane<10>;
template class VectorLane<11>;
template class VectorLane<12>;
template class VectorLane<13>;
template class VectorLane<14>;
template class VectorLane<15>;
template class VectorLane<16>;
template class VectorLane<17>;
template class VectorLane<18>;
template class VectorLane<19>;
template class VectorLane<20>;
template class VectorLane<21>;
template class VectorLane<22>;
template class VectorLane<23>;
template class VectorLane<24>;
template class VectorLane<25>;
template class VectorLane<26>;
template class VectorLane<27>;
template class VectorLane<28>;
template class VectorLane<29>;
template class VectorLane<30>;
template class VectorLane<31>;

}  // namespace norvale::classifier::storage
