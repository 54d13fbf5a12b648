// The round loop. Being built; a round ends the match for now.
#include "match/round.h"

int CRound::Run() { return ROUND_EXIT; }
