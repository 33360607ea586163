#pragma once
// What the options window needs of the main window.

class TOptions_Host {
public:
    virtual void Change_Language() = 0; // main window: reload nothing, re-apply Lang_Strings to its controls
    virtual void
    Set_Update_Timer() = 0; // main window: enable Timer_Update exactly when Enable_Internet and
                            // Enable_Update are both 1, else disable (a running timer is left running)
protected:
    ~TOptions_Host() = default;
};
