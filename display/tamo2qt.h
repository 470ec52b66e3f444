// Converts image records into pictures for display.
#pragma once

class Tamo2Qt {
public:
    Tamo2Qt() = default;
};
