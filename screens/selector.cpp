// The stage and music selector screen. Until the match engine exists the
// match ends before the selector is reached; choosing "EXIT" is its answer.
#include "screens/stageselect.h"

int CStageSelect::Run() {
    cursor = SELECT_EXIT;
    return cursor;
}
