// A variable of the drive (position, speed, converter reading...), read and
// written live through the setup's drive link.
#pragma once

#include "Quantity.h"

class CMC_Variable : public CMC_Quantity {
public:
    using CMC_Quantity::CMC_Quantity;

    // Non-zero on success; on failure the value stays and the link tells why.
    int ReadFromChip();
    int WriteToChip();
};
