// The Paradox tables of a demo workstation package.

#include "packageschemas.h"

#include "core/errors.h"
#include "package.h"

#include <QString>
#include <algorithm>
#include <map>

namespace demo {

namespace detail {

using paradox::FieldType;
using paradox::Schema;

namespace {

// Columns written as "Name:T" items: I integer, S small integer, F float, B boolean, D date,
// T timestamp, A<n> alpha(n).
Schema schemaOf(const char *columns, int keyFields)
{
    Schema schema;
    schema.keyFieldCount = keyFields;
    for (const QString &item :
         QString::fromLatin1(columns).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = item.section(QLatin1Char(':'), 0, 0).trimmed();
        const QString type = item.section(QLatin1Char(':'), 1, 1).trimmed();
        static const std::map<char, FieldType> types = {
            {'I', FieldType::Long},    {'S', FieldType::Short}, {'F', FieldType::Number},
            {'B', FieldType::Logical}, {'D', FieldType::Date},  {'T', FieldType::Timestamp}};
        if (const auto it = types.find(type.at(0).toLatin1()); it != types.end())
            schema.fields.emplace_back(name, it->second);
        else
            schema.fields.emplace_back(name, FieldType::Alpha, type.mid(1).toInt());
    }
    return schema;
}

} // namespace

#define ORIGIN "CrDate:T,LastUpdate:T,WstGID:I,UserGID:I"

// clang-format off
const Schema cityTable = schemaOf("CityLID:I,CityName:A50,CityLocCod:A10,CitySoato:A10,"
                                  "CityOkato:A13,RegGID:I," ORIGIN, 1);
const Schema streetTable = schemaOf("StrLID:I,StrName:A50,StrLocCod:A10,CityLID:I,CrDate:T,"
                                    "LastUpdate:T,UserGID:I,WstGID:I", 1);
const Schema postTable = schemaOf("PosLID:I,PosName:A50,PosLocCod:A10," ORIGIN, 1);
const Schema areaTable = schemaOf("AreaLID:I,AreaCode:A10,HspGID:I," ORIGIN, 1);
const Schema addressTable = schemaOf("AdrLID:I,AdrHousNum:A10,AdrRoomNum:A5,CityLID:I,StrLID:I,"
                                     "CrDate:T,LastUpdate:T,UserGID:I,WstGID:I", 1);
const Schema personTable = schemaOf("PrnLID:I,PrnSurName:A15,PrnName:A15,PrnOtch:A15,PrnSex:S,"
                                    "PrnDate:D,PrnMdnName:A15,PrnPhone:A15,AreaLID:I,PosLID:I,"
                                    "AdrLID:I,PrnRefLID:I,paspor:A10,kod:A10," ORIGIN, 1);
const Schema documentTable = schemaOf("DocLID:I,DocDate:D,DocNumber:A10,DtpGID:I,PrnLID:I,"
                                      ORIGIN, 1);
const Schema inspectionTable = schemaOf(
    "DocLID:I,PinNumber:A10,PinInsCode:A10,PinInsDate:D,ObjCAD:S,ObjDAD:S,ObjCircTh:F,"
    "ObjCircWst:F,ObjGrowth:F,ObjMass:F,IndexKetle:F,CmpHeadach:A3,CmpGiddine:B,CmpNoise:B,"
    "CmpLowerin:B,CmpFatig:B,CmpDiffic:B,CmpIrritab:B,CmpUrInc:B,CmpUrStran:B,CmpUrNight:B,"
    "CmpUrColor:B,CmpBrFast:B,CmpBrSlow:B,PinPrepAD:B,HypFather:S,HypMother:S,InfFather:S,"
    "InfMother:S,InsFather:S,InsMother:S,DiabetFather:S,DiabetMother:S,Smoking:S,Spirits:S,"
    "AlsUrAlbum:F,AlsUrLeucs:F,AlsUrRed:F,AlsBlHb:F,AlsBlCOE:F,AlsBlRed:F,AlsBlChol:F,"
    "AlsBlGluk:F,EKGHemChng:B,EKGDeprSt:B,EKGNegT:B,EyeAngGip:B,EyeAngAter:B,Dispanser:S,"
    "MprGID1:I,MprDose1:F,MprFreq1:S,MprGID2:I,MprDose2:F,MprFreq2:S," ORIGIN, 1);
const Schema cardTable = schemaOf(
    "DocLID:I,CardNumber:A10,CardCode:A10,CardSec:S,CardDate:D,Hyper:S,HyperDate:S,ADHi:S,"
    "ADHiDate:S,Stenokardia:S,StenokardiaDate:S,Infarct:S,InfarctDate:S,Insult:S,InsultDate:S,"
    "Diabet:S,DiabetDate:S,Pielonefrit:S,PielonefritDate:S,Pochki:S,PochkiDate:S,PochkiBerem:S,"
    "PochkiBeremDate:S,MochekamBolez:S,MochekamBolezDate:S,PochkiSol:S,PochkiSolDate:S,Yazva:S,"
    "YazvaDate:S,Gepatit:S,GepatitDate:S,Preparat:B,Prep1GID:I,Prep1Dose:F,Prep1Day:S,"
    "Prep1DayBack:S,Prep2GID:I,Prep2Dose:F,Prep2Day:S,Prep2DayBack:S,MotherHyper:S,"
    "MotherADHi:S,MotherStenokardia:S,MotherInfarkt:S,MotherInsult:S,MotherDiabet:S,"
    "MotherTuber:S,MotherPochki:S,FatherHyper:S,FatherADHi:S,FatherStenokardia:S,"
    "FatherInfarkt:S,FatherInsult:S,FatherDiabet:S,FatherTuber:S,FatherPochki:S,AlkBeer:B,"
    "AlkBeerCount:F,AlkBeerFreq:S,AlkWine:B,AlkWineCount:F,AlkWineFreq:S,AlkVodka:B,"
    "AlkVodkaCount:F,AlkVodkaFreq:S,Smoking:S,SmokingBrosilLet:S,SmokingSigarCount:S,Kashel:S,"
    "MokrotaORVI:B,MokrotaLet:S,Rous11:B,Rous12:B,Rous21:B,Rous22:B,Rous3:B,Rous4:S,Rous5:S,"
    "Rous6:S,Rous7:B,Rous7Where:A4,Rous8:B,Rous8Where:A255,Rous9Let:S,GolovaBolMorning:B,"
    "GolovaBolDay:B,GolovaBolEvening:B,Golovokrugenie:B,GolovaShum:B,MemLow:B,UtomlaemostHi:B,"
    "RabotaTrudno:B,RazdrajHi:B,UrChasto:B,UrRezi:B,UrNight:B,UrColorIzm:B,OtdyshkaBystro:B,"
    "OtdyshkaSpokoyno:B,FamilyStatus:S,PostLID:I,PostDate:D,Rost:F,Massa:F,Konstitutcia:S,"
    "Jir:S,SizeGrud:F,SizeTalia:F,SizeBedra:F,IndexKetle:F,AD1Hi:S,AD1Low:S,AD2Hi:S,AD2Low:S,"
    "ADSredHi:S,ADSredLow:S,Puls:S,PulsType:S,PasternakRight:B,PasternakLeft:B,BloodGluk:F,"
    "Holest:F,HolestLPVP:F,Trigliceridy:F,Gemoglobin:F,Eritrocity:F,Dispanser:S,COE:F," ORIGIN,
    1);
const Schema diagTable = schemaOf("DiagGID:I,DocLID:I,DiagType:S," ORIGIN, 3);

// The workstation's own copies that the registration of a new workstation reads.
const Schema operatorTable = schemaOf("WstGID:I,UserGID:I,UserName:A20,UserHash:A20,"
                                      "UserLevel:S", 2);
const Schema workstationTable = schemaOf("WstGID:I,WstName:A100,WstRplDate:T,HspGID:I,BrgGID:I",
                                         1);
const Schema hospitalTable = schemaOf(
    "HspGID:I,IDMU:I,MU:A100,MUFL:A250,CODMU:A10,IDTMU:I,OFFICE:B,SURNAMER:A50,NAME_R:A30,"
    "SECNAMER:A30,RSECNAME:B,IDPOST:I,PHONE_R:A20,CNTPHONE:A20,FAX:A20,FAXREG:B,EMAIL:A32,"
    "EMSIZE:A10,IDADRES:I,MAILCODE:A6,MAILADR:A250,HOUSE:S,HOUSELIT:A2,CORPUS:S,OMS:B,"
    "BGDATE:T,BGREASON:A100,CLDATE:T,CLREASON:A100,CRDATE:T,HtpGID:I,RegGID:I", 1);
const Schema hospTypeTable = schemaOf("HtpGID:I,IDTMU:I,TMU:A250,CODTMU:A10,BGDATE:T,"
                                      "BGREASON:A100,CLDATE:T,CLREASON:A100,CRDATE:T", 1);
const Schema regionTable = schemaOf("RegGID:I,RegName:A255,RegOkato:A13", 1);
const Schema brigadeTable = schemaOf("BrgGID:I,BrgName:A255,CityGID:I", 1);

// clang-format on

} // namespace detail

using namespace detail;

const std::vector<QString> &PackageTableNames()
{
    static const std::vector<QString> names = {
        QStringLiteral("City"),        QStringLiteral("Street"),
        QStringLiteral("Post"),        QStringLiteral("RegistrationArea"),
        QStringLiteral("Address"),     QStringLiteral("Person"),
        QStringLiteral("Document"),    QStringLiteral("PrimaryInspection"),
        QStringLiteral("PrimDiag"),    QStringLiteral("ScriningCard"),
        QStringLiteral("MapDiag"),     QStringLiteral("Operator"),
        QStringLiteral("Workstation"), QStringLiteral("Hospital"),
        QStringLiteral("HospType"),    QStringLiteral("Region"),
        QStringLiteral("Brigade")};
    return names;
}

const paradox::Schema &PackageTableSchema(const QString &name)
{
    static const std::vector<const paradox::Schema *> schemas = {
        &cityTable,   &streetTable,   &postTable,        &areaTable,     &addressTable,
        &personTable, &documentTable, &inspectionTable,  &diagTable,     &cardTable,
        &diagTable,   &operatorTable, &workstationTable, &hospitalTable, &hospTypeTable,
        &regionTable, &brigadeTable};
    const auto &names = PackageTableNames();
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end())
        throw Exception(QStringLiteral("Нет такой таблицы пакета: ") + name);
    return *schemas[size_t(it - names.begin())];
}

} // namespace demo
