#pragma once
// Entry numbers of the interface texts, and which control of each window shows which entry.
// Code names an entry through these constants only, so a number is written once.

#include <cstddef>
#include <cstdint>

enum TLang_Entry : std::int32_t {
    // main window: hints of the icon buttons, port selection, connection
    leBtn_Info = 0,
    leBtn_Opz = 1,
    leBtn_Close = 2,
    leGB_Select_COM = 3,
    leL_SelCOM_COMList = 4,
    leBtn_RefreshCOM = 5,
    leBtn_Connect = 6,
    leBtn_Disconnect = 7,
    leCon_Initialized = 8,
    leCon_Init_Error = 9,
    // main window: converter parameters
    leGB_SerPar = 10,
    leL_SP_SerPar = 11,
    leL_SP_Ser_Baud = 12,
    leL_SP_Ser_Par = 13,
    leL_SP_MBusPar = 14,
    leL_SP_MBus_Baud = 15,
    leL_SP_MBus_Par = 16,
    leBtn_WriteData = 17,
    leBtn_ReadData = 18,
    leL_SP_Read = 19,
    leL_SP_R_Ser_Baud = 20,
    leL_SP_R_Ser_Par = 21,
    leL_SP_R_MBus_Baud = 22,
    leL_SP_R_MBus_Par = 23,
    // main window: firmware update
    leGB_Firmware = 24,
    leBtn_UpdateFirm = 25,
    leCB_Firm_Read = 26,
    leL_Firm_Progress = 27,
    // options window
    leSoftOptions_Title = 28,
    leL_SW_Desc = 29,
    leTS_Language = 30,
    leTS_Con_Options = 31,
    leL_Sel_Lang = 32,
    leL_Page_Lang = 33,
    leL_Page_Lang_Of = 34,
    leBtn_Prev = 35,
    leBtn_Next = 36,
    leCB_En_Con = 37,
    leCB_Update = 38,
    leBtn_Check_Update = 39,
    leBtn_OK = 40,
    leBtn_Cancel = 41,
    leLL_Check_Update_New = 42,
    leLL_Check_Update_None = 43,
    // language confirmation: entry 44, current name, entry 45, new name, entry 46
    leLang_Confirm_From = 44,
    leLang_Confirm_To = 45,
    leLang_Confirm_End = 46,
    // connection status, message boxes, firmware status, update link
    leCon_Disconnected = 47,
    leProtection = 48,
    leRead_Data_Error = 49,
    leFirmware_Missing = 50,
    leWrite_Firmware = 51,
    leWrite_Firmware_Error = 52,
    leRead_Firmware = 53,
    leRead_Firmware_Error = 54,
    leUpdate_Done = 55,
    leRead_Back_Error = 56,
    leLL_Update = 57,
};

inline constexpr std::int32_t Lang_Entry_Count = 58;

// How a window puts an entry on a control.
enum TLang_Property : std::uint8_t {
    lpHint,    // tool-tip of a button without caption
    lpCaption, // text of a label, button, check box or group box
    lpTab,     // title of a tab page
    lpTitle,   // title of the window itself (Control is null)
    lpPage,    // page label: the entry, "1", the entry after it, "1" (see Lang_Page_Text)
};

struct TLang_Target {
    TLang_Entry Entry;
    const char* Control; // the control's object name
    TLang_Property Property;
};

// What the main window's Set_Lang copies, in the order it copies it.
inline constexpr TLang_Target Main_Lang_Targets[] = {
    {leBtn_Info, "Btn_Info", lpHint},
    {leBtn_Opz, "Btn_Opz", lpHint},
    {leBtn_Close, "Btn_Close", lpHint},
    {leGB_Select_COM, "GB_Select_COM", lpCaption},
    {leL_SelCOM_COMList, "L_SelCOM_COMList", lpCaption},
    {leBtn_RefreshCOM, "Btn_RefreshCOM", lpHint},
    {leBtn_Connect, "Btn_Connect", lpCaption},
    {leBtn_Disconnect, "Btn_Disconnect", lpCaption},
    {leGB_SerPar, "GB_SerPar", lpCaption},
    {leL_SP_SerPar, "L_SP_SerPar", lpCaption},
    {leL_SP_Ser_Baud, "L_SP_Ser_Baud", lpCaption},
    {leL_SP_Ser_Par, "L_SP_Ser_Par", lpCaption},
    {leL_SP_MBusPar, "L_SP_MBusPar", lpCaption},
    {leL_SP_MBus_Baud, "L_SP_MBus_Baud", lpCaption},
    {leL_SP_MBus_Par, "L_SP_MBus_Par", lpCaption},
    {leBtn_WriteData, "Btn_WriteData", lpCaption},
    {leBtn_ReadData, "Btn_ReadData", lpCaption},
    {leL_SP_Read, "L_SP_Read", lpCaption},
    {leL_SP_R_Ser_Baud, "L_SP_R_Ser_Baud", lpCaption},
    {leL_SP_R_Ser_Par, "L_SP_R_Ser_Par", lpCaption},
    {leL_SP_R_MBus_Baud, "L_SP_R_MBus_Baud", lpCaption},
    {leL_SP_R_MBus_Par, "L_SP_R_MBus_Par", lpCaption},
    {leGB_Firmware, "GB_Firmware", lpCaption},
    {leBtn_UpdateFirm, "Btn_UpdateFirm", lpCaption},
    {leCB_Firm_Read, "CB_Firm_Read", lpCaption},
    {leL_Firm_Progress, "L_Firm_Progress", lpCaption},
};

// What the options window's Set_Lang copies, in the order it copies it.
inline constexpr TLang_Target Options_Lang_Targets[] = {
    {leSoftOptions_Title, nullptr, lpTitle},
    {leL_SW_Desc, "L_SW_Desc", lpCaption},
    {leTS_Language, "TS_Language", lpTab},
    {leTS_Con_Options, "TS_Con_Options", lpTab},
    {leL_Sel_Lang, "L_Sel_Lang", lpCaption},
    {leL_Page_Lang, "L_Page_Lang", lpPage},
    {leBtn_Prev, "Btn_Prev", lpCaption},
    {leBtn_Next, "Btn_Next", lpCaption},
    {leCB_En_Con, "CB_En_Con", lpCaption},
    {leCB_Update, "CB_Update", lpCaption},
    {leBtn_Check_Update, "Btn_Check_Update", lpCaption},
    {leBtn_OK, "Btn_OK", lpCaption},
    {leBtn_Cancel, "Btn_Cancel", lpCaption},
};

// Set_Lang assigns in increasing entry order; keep the tables that way.
template <std::size_t N> constexpr bool lang_targets_ascending(const TLang_Target (&Targets)[N]) {
    for (std::size_t i = 1; i < N; ++i)
        if (Targets[i].Entry <= Targets[i - 1].Entry) return false;
    return true;
}
static_assert(lang_targets_ascending(Main_Lang_Targets));
static_assert(lang_targets_ascending(Options_Lang_Targets));
