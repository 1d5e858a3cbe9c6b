// The one entry of the card tools into the program (start-up,
// RegisterProgramParts): registers the SD viewer and the file transfer with
// the main frame, each behind the card check; each tool, when it opens, hands
// the card windows what they need from the program.
#pragma once

class CMainFrame;

void RegisterCardParts();

// Hands the card windows what they take from the program (device, modal-box
// counter, codec, main window, picture opening); run by each tool that uses
// card windows as it opens, so they always see the main frame that opens them.
void BindCardHost(CMainFrame* mainFrame);

// The card check before a card tool opens: TRUE with a card; otherwise the
// message ("SD memory card is not inserted." for status 1, "Unable to
// access to SD memory." else) is shown and FALSE returned.
int CheckCardPresent();
