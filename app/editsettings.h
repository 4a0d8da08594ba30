// Edits applied to every converted page. (Filled out with the edit engine.)
#ifndef KORVANE_EDITSETTINGS_H
#define KORVANE_EDITSETTINGS_H

class EditSettings
{
public:
    EditSettings() = default;

    bool edited = false;    // apply the edits to each page
};

#endif
