#pragma once

// The Paradox tables of a demo workstation package: their columns and keys.

#include "engine/paradox/paradoxtable.h"

namespace demo::detail {

extern const paradox::Schema cityTable;
extern const paradox::Schema streetTable;
extern const paradox::Schema postTable;
extern const paradox::Schema areaTable;
extern const paradox::Schema addressTable;
extern const paradox::Schema personTable;
extern const paradox::Schema documentTable;
extern const paradox::Schema inspectionTable;
extern const paradox::Schema cardTable;
extern const paradox::Schema diagTable;
extern const paradox::Schema operatorTable;
extern const paradox::Schema workstationTable;
extern const paradox::Schema hospitalTable;
extern const paradox::Schema hospTypeTable;
extern const paradox::Schema regionTable;
extern const paradox::Schema brigadeTable;

} // namespace demo::detail
