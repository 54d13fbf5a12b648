// The round loop. The match engine is not built yet; a round ends the match.
#include "match/round.h"
#include "screens/title.h"

int CRound::Run() { return kRoundExit; }
