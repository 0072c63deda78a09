#pragma once

#include "forms/Language.h"

// Texts of the reading sequence. "%s" is always the device name; "%u" an unsigned 32-bit
// number, "%010u" the same at least ten digits wide with leading zeros.
namespace reading_texts {

inline constexpr TextPair kConnected{{"Appareil connecté", "Device Connected"}};
inline constexpr TextPair kCheckingType{
    {"Vérification du type d'appareil.", "Checking of the unit."}};
inline constexpr TextPair kTypeAccepted{
    {"Vous avez bien connecté un appareil %s.", "You have connected the %s unit."}};
inline constexpr TextPair kSerialNumber{
    {"Le numéro de série est : %010u.", "Serial number is : %010u."}};
inline constexpr TextPair kCircuitVersion{{" La version du circuit est %u ", " "}};
inline constexpr TextPair kSoftwareVersion{{" La version du logiciel est %u.%u", " "}};
inline constexpr TextPair kTransmissionDone{{"Transmission réussie", "Transfert successfully"}};
inline constexpr TextPair kDoneFirst{{" Le transfert des données est reussi.", " "}};
inline constexpr TextPair kDoneLast{
    {"Vous pouvez effectuer une nouvelle lecture sur un autre appareil %s", " "}};

inline constexpr TextPair kWrongDeviceTitle{{"Mauvais type d'appareil", "Wrong unit type"}};
inline constexpr TextPair kWrongDeviceMessage{
    {"Le type d'appareil ne correspond pas à un appareil %s.\n\n\rL'appareil n'est pas un "
     "appareil %s!",
     "The device is not a %s unit.\n\n\rThe device is not a %s unit."}};
inline constexpr TextPair kTransferErrorTitle{{"Erreur de transmission", "Transfer error"}};
inline constexpr TextPair kTransferErrorMessage{
    {"Une erreur de transmission est survenue.\n\n\r Vous pouvez essayer de recommencer un "
     "autre transfert.",
     "A error transfer  occured.\n\n\r Try aain another transfert"}};
inline constexpr TextPair kWrongSerialTitle{{"Programmation abandonnée! Mauvais numéro de série.",
                                             "Programming failed! wrong serial number."}};
inline constexpr TextPair kEepromErrorTitle{{"Erreur d'écriture en E²PROM", "EEPROM write error"}};
inline constexpr TextPair kEepromErrorMessage{
    {"Une erreur d'écriture en EEPROM est survenue.\n\n\r Vous pouvez essayer de recommencer "
     "un autre transfert.\n\r",
     "A write eerpom error occured.\n\n\r Try aain another transfert"}};
inline constexpr TextPair kGeneralErrorMessage{{"Une erreur s'est produite", "An error occured "}};

// The same in both languages.
inline constexpr const char* kBlankLine = " ";
inline constexpr const char* kSeparator = "---------------------------";  // 27 hyphens

}  // namespace reading_texts
