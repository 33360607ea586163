#include "UComon.h"

QString Path_Exe;
QString Path_Master;
QString Path_Projects;
QString Path_Language;

QString SW_Title;
QString SW_Code;
QString SW_Desc;

QString Last_Project;
QString Last_IPAddress;
QString Language_Name;
std::uint8_t Enable_Internet = 0;
std::uint8_t Enable_Update = 0;
