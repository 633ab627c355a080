#pragma once

/// The operating-system record types offered to the application, in their declared form. They
/// are Q_GADGETs, so their fields are also reachable by name through the meta-object system
/// (and measurable with n_cst_numerical::of_sizeof(variable_list(...))).

#include <lumora/lumora_export.h>

#include <QMetaType>
#include <QObject>
#include <QString>

#include <cstdint>

namespace lumora {

/// Version record of the operating system; every field is text.
struct LUMORA_EXPORT osversioninfo {
    Q_GADGET
    Q_PROPERTY(QString dwosversioninfosize MEMBER dwosversioninfosize)
    Q_PROPERTY(QString dwmajorversion MEMBER dwmajorversion)
    Q_PROPERTY(QString dwminorversion MEMBER dwminorversion)
    Q_PROPERTY(QString dwbuildnumber MEMBER dwbuildnumber)
    Q_PROPERTY(QString dwplatformid MEMBER dwplatformid)
    Q_PROPERTY(QString szcsdversion MEMBER szcsdversion)
public:
    QString dwosversioninfosize;
    QString dwmajorversion;
    QString dwminorversion;
    QString dwbuildnumber;
    QString dwplatformid;
    QString szcsdversion;

    friend bool operator==(const osversioninfo&, const osversioninfo&) = default;
};

/// The version record extended by service-pack and product fields: the six fields of
/// osversioninfo followed by five more, all text.
struct LUMORA_EXPORT osversioninfoex : osversioninfo {
    Q_GADGET
    Q_PROPERTY(QString wservicepackmajor MEMBER wservicepackmajor)
    Q_PROPERTY(QString wservicepackminor MEMBER wservicepackminor)
    Q_PROPERTY(QString wsuitemask MEMBER wsuitemask)
    Q_PROPERTY(QString wproducttype MEMBER wproducttype)
    Q_PROPERTY(QString wreserved MEMBER wreserved)
public:
    QString wservicepackmajor;
    QString wservicepackminor;
    QString wsuitemask;
    QString wproducttype;
    QString wreserved;

    friend bool operator==(const osversioninfoex&, const osversioninfoex&) = default;
};

/// A date and time as eight unsigned 16-bit numbers.
struct LUMORA_EXPORT sys_time {
    Q_GADGET
    Q_PROPERTY(quint16 year MEMBER year)
    Q_PROPERTY(quint16 month MEMBER month)
    Q_PROPERTY(quint16 dayweek MEMBER dayweek)
    Q_PROPERTY(quint16 day MEMBER day)
    Q_PROPERTY(quint16 hour MEMBER hour)
    Q_PROPERTY(quint16 min MEMBER min)
    Q_PROPERTY(quint16 sec MEMBER sec)
    Q_PROPERTY(quint16 millsec MEMBER millsec)
public:
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t dayweek = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t min = 0;
    std::uint16_t sec = 0;
    std::uint16_t millsec = 0;

    friend bool operator==(const sys_time&, const sys_time&) = default;
};

/// The processor and memory record, eleven signed 32-bit numbers. Only the first field,
/// the processor architecture (processor_architecture_amd64, …), is ever filled in by lumora.
struct LUMORA_EXPORT system_info {
    Q_GADGET
    Q_PROPERTY(qint32 wprocessorarchitecture MEMBER wprocessorarchitecture)
    Q_PROPERTY(qint32 wreserved MEMBER wreserved)
    Q_PROPERTY(qint32 dwpagesize MEMBER dwpagesize)
    Q_PROPERTY(qint32 lpminimumapplicationaddress MEMBER lpminimumapplicationaddress)
    Q_PROPERTY(qint32 lpmaximumapplicationaddress MEMBER lpmaximumapplicationaddress)
    Q_PROPERTY(qint32 dwactiveprocessormask MEMBER dwactiveprocessormask)
    Q_PROPERTY(qint32 dwnumberofprocessors MEMBER dwnumberofprocessors)
    Q_PROPERTY(qint32 dwprocessortype MEMBER dwprocessortype)
    Q_PROPERTY(qint32 dwallocationgranularity MEMBER dwallocationgranularity)
    Q_PROPERTY(qint32 wprocessorlevel MEMBER wprocessorlevel)
    Q_PROPERTY(qint32 wprocessorrevision MEMBER wprocessorrevision)
public:
    std::int32_t wprocessorarchitecture = 0;
    std::int32_t wreserved = 0;
    std::int32_t dwpagesize = 0;
    std::int32_t lpminimumapplicationaddress = 0;
    std::int32_t lpmaximumapplicationaddress = 0;
    std::int32_t dwactiveprocessormask = 0;
    std::int32_t dwnumberofprocessors = 0;
    std::int32_t dwprocessortype = 0;
    std::int32_t dwallocationgranularity = 0;
    std::int32_t wprocessorlevel = 0;
    std::int32_t wprocessorrevision = 0;

    friend bool operator==(const system_info&, const system_info&) = default;
};

} // namespace lumora
