// CRoundIntro: the round intro screen. The match engine is not built yet, so
// the screen leaves the match at once ("EXIT") and START returns to the title.
#include "screens/roundintro.h"

#include <cstring>


CRoundIntro::CRoundIntro() : lines{}, cursor(0), roundCounter(0) {
    strcpy(lines[0], "OK NEXT");
    strcpy(lines[1], "EXIT");
}

CRoundIntro::~CRoundIntro() { roundCounter = 0; }

int CRoundIntro::Run() {
    cursor = INTRO_EXIT;
    return cursor;
}
