// The process-wide objects. They are defined here, in one translation
// unit, so that C++ constructs them in exactly this order before main() runs
// and destroys them in the reverse order when the process exits.
#include "app/shell.h"
#include "config/option.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "replay/replay.h"
#include "screens/online.h"
#include "screens/roundintro.h"
#include "screens/stageselect.h"
#include "screens/standings.h"
#include "screens/title.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

CApp theApp(WindowProc);
CDirectDraw theDirectDraw;
CTitle theTitle;
CStageSelect theStageSelect;
CRound theRound;
CRoundIntro theRoundIntro;
CItemManager theItemManager;
COption theOption;
CBgm theBgm;
CDirectSound theDirectSound;
// Beyond the original objects: the round recorder, made and cleared last,
// and the final standings of a match of MATCH_ROUNDS rounds.
CReplay theReplay;
CFinalStandings theFinalStandings;
// Online play: its session and screens, after everything they use.
COnline theOnline;
