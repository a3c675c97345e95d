// Endgame tablebases in the engine: the root move choice and the probe used
// by the node search.
#pragma once

#include <string>

#include "tarnwick.h"

extern int TB_LARGEST;
uint32_t syzygyProbeDTZ(int, positionStruct* pos);
int syzygyProbeWDL(positionStruct* pos, int ply, int* success);
void syzygySetPath(const std::string& path);
