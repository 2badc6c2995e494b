#pragma once

// The build's brand row. A different brand is a different build: every place whose
// behaviour depends on the brand reads this one constant.
namespace tl {

struct BrandProfile
{
    const char *brandKey;
    const char *productDisplayName;
    const char *productWord;
    const char *settingsFolder;        // appended to the user's configuration folder
    const char *companionName;
    const char *companionPath;         // appended to the program folder with "%1%2"
    bool trayHasCompanionEntry;        // T7
    bool trayHasKeyboardEntry;         // T8
    bool createsStartupShortcut;
    bool setupClearsCeiling;           // CheckCeiling = false before the wizard in setup mode
    bool setupClearsStartProgram;      // Start_Program = false at start in setup mode
    bool wizardShowsExtraModels;       // the two further model buttons of the model group
    bool wizardShowsRear;
    bool wizardShowsUpdateArea;        // groupUpdate, textEditInfo, labelHWVersion, labelSWVersion
    const char *aboutProductLabel;
    const char *makerUrl;
    const char *makerLabel;
};

inline constexpr BrandProfile kBrand{
    "MERIDAN",
    "Tesselink Driver",
    "Tesselink",
    "/MERIDAN/Tesselink Driver",
    "Meridan-Pen",
    "/MERIDAN/Meridan-Pen/Meridan-Pen",
    false,
    false,
    false,
    true,
    true,
    false,
    true,
    false,
    "Tesselink Driver",
    "https://www.meridan.invalid/",
    "Meridan Interactive Displays",
};

// The version the application reports ("About", application version).
inline constexpr const char *kDriverVersion = "2.0.0.7";

} // namespace tl
