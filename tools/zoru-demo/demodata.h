#pragma once

// Reference material in Russian from which the demo installation is put together: subjects of
// the federation with their OKATO codes, the districts of the home region, toponyms, personal
// names, streets, diagnoses, medicines. The generator combines these; nothing here is random.

#include <span>

namespace demodata {

struct Subject
{
    const char *okato;   // two digits of the subject; the region code is these + "000000000"
    const char *name;    // "Омская область"
    const char *abbrev;  // "Омская обл." for postal addresses
    const char *capital; // "Омск"
    const char *postal;  // first three digits of the postal codes
    const char *phone;   // telephone code of the capital
    const char *mufl;    // owner's prefix of full hospital names, e.g. "БУЗОО"
    bool federalCity;    // a city of federal significance: no districts of its own
};

// The home region first; the generator takes subjects in this order.
std::span<const Subject> Subjects();

struct District
{
    const char *stem; // adjective stem: "Тарск" gives "Тарский район", "Тарская ЦРБ"
    const char *centre; // the district centre with its kind: "г. Тара"
    const char *okato;  // three digits of the district inside its subject
};

// The real districts of the home region (the first subject).
std::span<const District> HomeDistricts();
// Adjective stems and centres for the districts of the other subjects; their codes are assigned.
std::span<const District> DistrictPool();

// Villages ("с. Покровка"), kind included.
std::span<const char *const> Villages();
std::span<const char *const> Streets();

std::span<const char *const> MaleSurnames(); // the female form adds "а"
std::span<const char *const> MaleNames();
std::span<const char *const> FemaleNames();
std::span<const char *const> Patronymics(); // male form; "ович" -> "овна", "евич" -> "евна"

struct Diagnosis
{
    const char *code; // "I10"
    const char *name; // "Эссенциальная гипертензия"
};
std::span<const Diagnosis> Diagnoses();
// Qualifiers that turn a base diagnosis into its sub-headings (".0", ".1", ...).
std::span<const char *const> DiagnosisQualifiers();

std::span<const char *const> DocumentTypes();

struct MedicineGroup
{
    const char *code;   // "C09A"
    const char *name;   // "Ингибиторы АПФ"
    const char *parent; // code of the enclosing group; nullptr for a top-level group
};
std::span<const MedicineGroup> MedicineGroups();

struct Medicine
{
    const char *group; // code of its group
    const char *trade; // trade name
    const char *inn;   // international non-proprietary name
    double dose;       // mg of one tablet
    double perDay;     // tablets a day
};
std::span<const Medicine> Medicines();

} // namespace demodata
