#include "package/packagetables.h"

#include "core/errors.h"
#include "core/paths.h"
#include "engine/database.h"
#include "engine/sqlscript.h"
#include "package/archiver.h"

#include <QFile>

namespace {

void lookup(TTable &table, const QString &field, TTable &central, const QString &keys,
            const QString &centralKeys, const QString &result)
{
    TLookupFieldDef def;
    def.FieldName = field;
    def.LookupDataSet = &central;
    def.KeyFields = keys;
    def.LookupKeyFields = centralKeys;
    def.LookupResultField = result;
    table.AddLookupField(def);
}

void central(TTable &table, TDatabase *db, const QString &name, const QString &member)
{
    table.SetDatabase(db);
    table.SetTableName(name);
    table.Name = member;
}

void package(TTable &table, TDatabase *db, const QString &file, const QString &member)
{
    table.SetDatabase(db);
    table.SetTableName(file);
    table.Name = member;
    table.ReadOnly = true;
}

// A list of names written as one comma-separated text.
QStringList split(const char *names)
{
    return QString::fromLatin1(names).split(QLatin1Char(','), Qt::SkipEmptyParts);
}

} // namespace

TSIEDM::TSIEDM(TDatabase *center, TDatabase *wst) : m_center(center), m_wst(wst)
{
    defineCentralTables();
    definePackageTables();
    defineColumnLists();
    defineQueries();
}

TSIEDM::~TSIEDM() = default;

void TSIEDM::defineCentralTables()
{
    central(itCity, m_center, QStringLiteral("CITY"), QStringLiteral("itCity"));
    central(itStreet, m_center, QStringLiteral("STREET"), QStringLiteral("itStreet"));
    central(itPost, m_center, QStringLiteral("POST"), QStringLiteral("itPost"));
    central(itRegistrationArea, m_center, QStringLiteral("REGISTRATIONAREA"),
            QStringLiteral("itRegistrationArea"));
    central(itAddress, m_center, QStringLiteral("ADDRESS"), QStringLiteral("itAddress"));
    central(itPerson, m_center, QStringLiteral("PERSON"), QStringLiteral("itPerson"));
    central(itDocument, m_center, QStringLiteral("DOCUMENT"), QStringLiteral("itDocument"));
    central(itPrimaryInspection, m_center, QStringLiteral("PRIMARYINSPECTION"),
            QStringLiteral("itPrimaryInspection"));
    central(itPrimDiag, m_center, QStringLiteral("PRIMDIAG"), QStringLiteral("itPrimDiag"));
    central(itMapScrining, m_center, QStringLiteral("SCRININGCARD"),
            QStringLiteral("itMapScrining"));
    central(itMapDiag, m_center, QStringLiteral("MAPDIAG"), QStringLiteral("itMapDiag"));
    central(itAuxCity, m_center, QStringLiteral("AUXCITY"), QStringLiteral("itAuxCity"));
    central(itAuxStreet, m_center, QStringLiteral("AUXSTREET"), QStringLiteral("itAuxStreet"));
    central(itAuxPost, m_center, QStringLiteral("AUXPOST"), QStringLiteral("itAuxPost"));
    central(itAuxRegistrationArea, m_center, QStringLiteral("AUXREGISTRATIONAREA"),
            QStringLiteral("itAuxRegistrationArea"));
    central(itWorkStation, m_center, QStringLiteral("WORKSTATION"),
            QStringLiteral("itWorkStation"));
    central(itOperator, m_center, QStringLiteral("OPERATOR"), QStringLiteral("itOperator"));
    central(itBrigade, m_center, QStringLiteral("BRIGADE"), QStringLiteral("itBrigade"));
    central(itBrigHsp, m_center, QStringLiteral("BRIGHSP"), QStringLiteral("itBrigHsp"));
    central(itHospital, m_center, QStringLiteral("HOSPITAL"), QStringLiteral("itHospital"));
    central(itHospType, m_center, QStringLiteral("HOSPTYPE"), QStringLiteral("itHospType"));
}

void TSIEDM::definePackageTables()
{
    package(wstCity, m_wst, QStringLiteral("City.DB"), QStringLiteral("wstCity"));
    lookup(wstCity, QStringLiteral("CITYGID"), itCity, QStringLiteral("CitySoato"),
           QStringLiteral("CITYSOATO"), QStringLiteral("CITYGID"));
    lookup(wstCity, QStringLiteral("AUXCITYGID"), itAuxCity, QStringLiteral("CityLID;WstGID"),
           QStringLiteral("CITYLID;WSTGID"), QStringLiteral("CITYGID"));

    package(wstStreet, m_wst, QStringLiteral("Street.DB"), QStringLiteral("wstStreet"));
    // STRGID is looked up by the street's own derived CITYGID, computed first.
    lookup(wstStreet, QStringLiteral("CITYGID"), itAuxCity, QStringLiteral("CityLID;WstGID"),
           QStringLiteral("CITYLID;WSTGID"), QStringLiteral("CITYGID"));
    lookup(wstStreet, QStringLiteral("STRGID"), itStreet, QStringLiteral("CITYGID;StrName"),
           QStringLiteral("CITYGID;STRNAME"), QStringLiteral("STRGID"));
    lookup(wstStreet, QStringLiteral("AUXSTRGID"), itAuxStreet, QStringLiteral("StrLID;WstGID"),
           QStringLiteral("STRLID;WSTGID"), QStringLiteral("STRGID"));

    package(wstPost, m_wst, QStringLiteral("Post.DB"), QStringLiteral("wstPost"));
    lookup(wstPost, QStringLiteral("POSGID"), itPost, QStringLiteral("PosName"),
           QStringLiteral("POSNAME"), QStringLiteral("POSGID"));
    lookup(wstPost, QStringLiteral("AUXPOSGID"), itAuxPost, QStringLiteral("PosLID;WstGID"),
           QStringLiteral("POSLID;WSTGID"), QStringLiteral("POSGID"));

    package(wstRegistrationArea, m_wst, QStringLiteral("RegistrationArea.DB"),
            QStringLiteral("wstRegistrationArea"));
    lookup(wstRegistrationArea, QStringLiteral("AREAGID"), itRegistrationArea,
           QStringLiteral("AreaCode;HspGID"), QStringLiteral("AREACODE;HSPGID"),
           QStringLiteral("AREAGID"));
    lookup(wstRegistrationArea, QStringLiteral("AUXAREAGID"), itAuxRegistrationArea,
           QStringLiteral("AreaLID;WstGID"), QStringLiteral("AREALID;WSTGID"),
           QStringLiteral("AREAGID"));

    package(wstAddress, m_wst, QStringLiteral("Address.DB"), QStringLiteral("wstAddress"));
    lookup(wstAddress, QStringLiteral("STRGID"), itAuxStreet, QStringLiteral("StrLID;WstGID"),
           QStringLiteral("STRLID;WSTGID"), QStringLiteral("STRGID"));
    lookup(wstAddress, QStringLiteral("CITYGID"), itAuxCity, QStringLiteral("CityLID;WstGID"),
           QStringLiteral("CITYLID;WSTGID"), QStringLiteral("CITYGID"));
    lookup(wstAddress, QStringLiteral("ADRGID"), itAddress, QStringLiteral("AdrLID;WstGID"),
           QStringLiteral("ADRLID;WSTGID"), QStringLiteral("ADRGID"));

    package(wstPerson, m_wst, QStringLiteral("Person.DB"), QStringLiteral("wstPerson"));
    lookup(wstPerson, QStringLiteral("AREAGID"), itAuxRegistrationArea,
           QStringLiteral("AreaLID;WstGID"), QStringLiteral("AREALID;WSTGID"),
           QStringLiteral("AREAGID"));
    lookup(wstPerson, QStringLiteral("POSGID"), itAuxPost, QStringLiteral("PosLID;WstGID"),
           QStringLiteral("POSLID;WSTGID"), QStringLiteral("POSGID"));
    lookup(wstPerson, QStringLiteral("PRNGID"), itPerson, QStringLiteral("PrnLID;WstGID"),
           QStringLiteral("PRNLID;WSTGID"), QStringLiteral("PRNGID"));
    lookup(wstPerson, QStringLiteral("PRNREFGID"), itPerson, QStringLiteral("PrnRefLID;WstGID"),
           QStringLiteral("PRNLID;WSTGID"), QStringLiteral("PRNGID"));
    lookup(wstPerson, QStringLiteral("ADRGID"), itAddress, QStringLiteral("AdrLID;WstGID"),
           QStringLiteral("ADRLID;WSTGID"), QStringLiteral("ADRGID"));

    package(wstDocument, m_wst, QStringLiteral("Document.DB"), QStringLiteral("wstDocument"));
    lookup(wstDocument, QStringLiteral("PRNGID"), itPerson, QStringLiteral("PrnLID;WstGID"),
           QStringLiteral("PRNLID;WSTGID"), QStringLiteral("PRNGID"));
    lookup(wstDocument, QStringLiteral("DOCGID"), itDocument, QStringLiteral("DocLID;WstGID"),
           QStringLiteral("DOCLID;WSTGID"), QStringLiteral("DOCGID"));

    package(wstPrimaryInspection, m_wst, QStringLiteral("PrimaryInspection.DB"),
            QStringLiteral("wstPrimaryInspection"));
    lookup(wstPrimaryInspection, QStringLiteral("DOCGID"), itDocument,
           QStringLiteral("DocLID;WstGID"), QStringLiteral("DOCLID;WSTGID"),
           QStringLiteral("DOCGID"));
    lookup(wstPrimaryInspection, QStringLiteral("DOCGIDREAL"), itPrimaryInspection,
           QStringLiteral("DocLID;WstGID"), QStringLiteral("DOCLID;WSTGID"),
           QStringLiteral("DOCGID"));

    package(wstPrimDiag, m_wst, QStringLiteral("PrimDiag.DB"), QStringLiteral("wstPrimDiag"));
    lookup(wstPrimDiag, QStringLiteral("DOCGID"), itPrimaryInspection,
           QStringLiteral("DocLID;WstGID"), QStringLiteral("DOCLID;WSTGID"),
           QStringLiteral("DOCGID"));

    package(wstMapScrining, m_wst, QStringLiteral("ScriningCard.DB"),
            QStringLiteral("wstMapScrining"));
    lookup(wstMapScrining, QStringLiteral("DOCGID"), itDocument, QStringLiteral("DocLID;WstGID"),
           QStringLiteral("DOCLID;WSTGID"), QStringLiteral("DOCGID"));
    lookup(wstMapScrining, QStringLiteral("DOCGIDREAL"), itMapScrining,
           QStringLiteral("DocLID;WstGID"), QStringLiteral("DOCLID;WSTGID"),
           QStringLiteral("DOCGID"));
    lookup(wstMapScrining, QStringLiteral("POSTGID"), itAuxPost, QStringLiteral("PostLID;WstGID"),
           QStringLiteral("POSLID;WSTGID"), QStringLiteral("POSGID"));

    package(wstMapDiag, m_wst, QStringLiteral("MapDiag.DB"), QStringLiteral("wstMapDiag"));
    lookup(wstMapDiag, QStringLiteral("DOCGID"), itMapScrining, QStringLiteral("DocLID;WstGID"),
           QStringLiteral("DOCLID;WSTGID"), QStringLiteral("DOCGID"));
}

void TSIEDM::defineColumnLists()
{
    colCity = split("CityName,CitySoato,CityOkato,REGGID");
    colStreet = split("StrName,CityGID");
    colPost = split("PosName");
    colRegistrationArea = split("AreaCode,HspGID");
    colAddress =
        split("AdrLID,AdrHousNum,AdrRoomNum,CityGID,StrGID,CrDate,LastUpdate,WstGID,UserGID");
    colPerson =
        split("PrnLID,PrnSurName,PrnName,PrnOtch,PrnSex,PrnDate,PrnMdnName,PrnPhone,AreaGID,PosGID,"
              "AdrGID,PrnRefGID,CrDate,LastUpdate,WstGID,UserGID");
    colDocument = split("DocLID,DocDate,DocNumber,DtpGID,PrnGID,CrDate,LastUpdate,WstGID,UserGID");
    colPrimaryInspection =
        split("DocGID,DocLID,PinNumber,PinInsCode,PinInsDate,ObjCAD,ObjDAD,ObjCircTh,ObjCircWst,"
              "ObjGrowth,ObjMass,"
              "IndexKetle,CmpHeadach,CmpGiddine,CmpNoise,CmpLowerin,CmpFatig,CmpDiffic,CmpIrritab,"
              "CmpUrInc,CmpUrStran,"
              "CmpUrNight,CmpUrColor,CmpBrFast,CmpBrSlow,PinPrepAD,HypFather,HypMother,InfFather,"
              "InfMother,InsFather,"
              "InsMother,DiabetFather,DiabetMother,Smoking,Spirits,AlsUrAlbum,AlsUrLeucs,AlsUrRed,"
              "AlsBlHb,AlsBlCOE,"
              "AlsBlRed,AlsBlChol,AlsBlGluk,EKGHemChng,EKGDeprSt,EKGNegT,EyeAngGip,EyeAngAter,"
              "Dispanser,MprGID1,"
              "MprDose1,MprFreq1,MprGID2,MprDose2,MprFreq2,CrDate,LastUpdate,WstGID,UserGID");
    colDocDiag = split("DocGID,DiagGID,DiagType,CrDate,LastUpdate,WstGID,UserGID");
    colMapScrining = split(
        "DocGID,DocLID,CardNumber,CardCode,CardSec,CardDate,Hyper,HyperDate,ADHi,ADHiDate,"
        "Stenokardia,"
        "StenokardiaDate,Infarct,InfarctDate,Insult,InsultDate,Diabet,DiabetDate,Pielonefrit,"
        "PielonefritDate,"
        "Pochki,PochkiDate,PochkiBerem,PochkiBeremDate,MochekamBolez,MochekamBolezDate,PochkiSol,"
        "PochkiSolDate,"
        "Yazva,YazvaDate,Gepatit,GepatitDate,Preparat,Prep1GID,Prep1Dose,Prep1Day,Prep1DayBack,"
        "Prep2GID,"
        "Prep2Dose,Prep2Day,Prep2DayBack,MotherHyper,MotherADHi,MotherStenokardia,MotherInfarkt,"
        "MotherInsult,"
        "MotherDiabet,MotherTuber,MotherPochki,FatherHyper,FatherADHi,FatherStenokardia,"
        "FatherInfarkt,"
        "FatherInsult,FatherDiabet,FatherTuber,FatherPochki,AlkBeer,AlkBeerCount,AlkBeerFreq,"
        "AlkWine,"
        "AlkWineCount,AlkWineFreq,AlkVodka,AlkVodkaCount,AlkVodkaFreq,Smoking,SmokingBrosilLet,"
        "SmokingSigarCount,Kashel,MokrotaORVI,MokrotaLet,Rous11,Rous12,Rous21,Rous22,Rous3,Rous4,"
        "Rous5,Rous6,"
        "Rous7,Rous7Where,Rous8,Rous8Where,Rous9Let,GolovaBolMorning,GolovaBolDay,GolovaBolEvening,"
        "Golovokrugenie,GolovaShum,MemLow,UtomlaemostHi,RabotaTrudno,RazdrajHi,UrChasto,UrRezi,"
        "UrNight,"
        "UrColorIzm,OtdyshkaBystro,OtdyshkaSpokoyno,FamilyStatus,PostGID,PostDate,Rost,Massa,"
        "Konstitutcia,"
        "Jir,SizeGrud,SizeTalia,SizeBedra,AD1Hi,AD1Low,AD2Hi,AD2Low,ADSredHi,ADSredLow,Puls,"
        "PulsType,"
        "PasternakRight,PasternakLeft,BloodGluk,Holest,HolestLPVP,Trigliceridy,Gemoglobin,"
        "Eritrocity,"
        "Dispanser,COE,CrDate,LastUpdate,WstGID,UserGID");
}

void TSIEDM::defineQueries()
{
    qrSRV.SetDatabase(m_center);
    qrSRV.Name = QStringLiteral("qrSRV");
    qrWST.SetDatabase(m_wst);
    qrWST.Name = QStringLiteral("qrWST");

    sqlWstPick.SetDatabase(m_center);
    sqlWstPick.Name = QStringLiteral("sqlWstPick");
    sqlWstPick.SetSQL(
        QStringList{QStringLiteral("SELECT MUFL, WstName, HOSPITAL.HspGID AS \"HspGID\", HtpGID, "
                                   "MU, BRIGADE.BrgGID AS \"BrgGID\", BrgName"),
                    QStringLiteral("FROM WORKSTATION"),
                    QStringLiteral("LEFT JOIN BRIGADE ON WORKSTATION.BrgGID = BRIGADE.BrgGID"),
                    QStringLiteral("LEFT JOIN HOSPITAL ON WORKSTATION.HspGID = HOSPITAL.HspGID"),
                    QStringLiteral("WHERE WstGID=:WSTGID")});
    sqlWstPick.ParamByName(QStringLiteral("WSTGID")).DataType = TFieldType::ftInteger;

    imTable.SetDatabase(m_center);
    imTable.Name = QStringLiteral("imTable");
    imTable.SetSQL(QStringList{QStringLiteral("SELECT * "), QStringLiteral("FROM %TABLE"),
                               QStringLiteral("%FILTER")});
    imTable.MacroByName(QStringLiteral("TABLE")).Value = QStringLiteral("0=0");
    imTable.MacroByName(QStringLiteral("FILTER")).Value = QStringLiteral("0=0");

    exTable.Name = QStringLiteral("exTable");
}

std::vector<TTable *> TSIEDM::PackageTables()
{
    return {&wstCity,     &wstStreet,      &wstPost,     &wstRegistrationArea,
            &wstAddress,  &wstPerson,      &wstDocument, &wstPrimaryInspection,
            &wstPrimDiag, &wstMapScrining, &wstMapDiag};
}

void TSIEDM::SetWstDatabase(TDatabase *wst)
{
    m_wst = wst;
    for (TTable *t : PackageTables())
        t->SetDatabase(wst);
    qrWST.SetDatabase(wst);
}

QString TSIEDM::RplGen()
{
    QFile f(QStringLiteral(":/zoru/package/rplgen.sql"));
    if (!f.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("Не найден сценарий создания таблиц пакета"));
    return QString::fromUtf8(f.readAll());
}

void TSIEDM::RunRplGen(TDatabase &folder)
{
    engine::ExecuteScript(folder, RplGen());
}

const QStringList &TSIEDM::SrvToWstTableNames()
{
    static const QStringList names =
        split("Brigade,BrigHsp,Diagnosis,DocType,Hospital,HospType,MedPreparat,"
              "MedPrepGroup,Region,Workstation");
    return names;
}
