#include "settings_file.h"

#include "UComon.h"

#include <QDomElement>
#include <QFile>
#include <QSaveFile>

namespace {

// The first direct child element of that name; null when there is none.
QDomElement child(const QDomNode& Parent, const QString& Name) {
    return Parent.isNull() ? QDomElement() : Parent.firstChildElement(Name);
}

// The text of a leaf element. False when it is missing or holds anything but one piece of text;
// an empty leaf is empty text.
bool read_leaf(const QDomElement& Leaf, QString& Text) {
    if (Leaf.isNull()) return false;
    const QDomNodeList Parts = Leaf.childNodes();
    if (Parts.isEmpty()) {
        Text.clear();
        return true;
    }
    // A character-data section is a text node too.
    if (Parts.size() != 1 || !Parts.at(0).isText()) return false;
    Text = Parts.at(0).nodeValue();
    return true;
}

QString read_text(const QDomNode& Root, const QString& Outer, const QString& Leaf, const QString& Default) {
    QString Text;
    return read_leaf(child(child(Root, Outer), Leaf), Text) ? Text : Default;
}

std::uint8_t read_flag(const QDomElement& Outer, const QString& Leaf) {
    QString Text;
    return read_leaf(child(Outer, Leaf), Text) && Text == QStringLiteral("1") ? 1 : 0;
}

void set_missing_file_values() {
    Last_Project.clear();
    Last_IPAddress = Default_IPAddress;
    Language_Name = QStringLiteral("English");
    Enable_Internet = 0;
    Enable_Update = 0;
}

void add_leaf(QDomDocument& Doc, QDomElement& Root, const QString& Outer, const QString& Leaf,
              const QString& Text) {
    QDomElement Outer_Element = Doc.createElement(Outer);
    Root.appendChild(Outer_Element);
    QDomElement Leaf_Element = Doc.createElement(Leaf);
    Outer_Element.appendChild(Leaf_Element);
    Leaf_Element.appendChild(Doc.createTextNode(Text));
}

QString flag_text(std::uint8_t Flag) {
    return Flag != 0 ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

TSettings_File::TLoad TSettings_File::Load(const QString& File, QString& Error) {
    set_missing_file_values();
    QFile In(File);
    if (!In.exists()) return TLoad::Missing;
    if (!In.open(QIODevice::ReadOnly)) {
        Error = In.errorString();
        return TLoad::Unparsable;
    }
    QString Message;
    int Line = 0;
    int Column = 0;
    QDomDocument Doc;
    if (!Doc.setContent(&In, &Message, &Line, &Column)) {
        Error = QStringLiteral("%1 (line %2, column %3)").arg(Message).arg(Line).arg(Column);
        return TLoad::Unparsable;
    }
    XML1 = Doc;

    // The root is taken by position, not by name; an XML declaration another tool put in front
    // of it is not part of the settings.
    QDomNode Root = XML1.firstChild();
    if (Root.isProcessingInstruction() && Root.nodeName() == QStringLiteral("xml")) Root = Root.nextSibling();
    if (!Root.isElement()) Root = QDomNode();

    Last_Project = read_text(Root, QStringLiteral("lastproj"), QStringLiteral("projectname"), QString());
    Last_IPAddress =
        read_text(Root, QStringLiteral("lastipadd"), QStringLiteral("ipaddress"), Default_IPAddress);
    Language_Name =
        read_text(Root, QStringLiteral("lastlang"), QStringLiteral("language"), QStringLiteral("English"));
    const QDomElement Internet = child(Root, QStringLiteral("lastinternet"));
    Enable_Internet = read_flag(Internet, QStringLiteral("enable_internet"));
    Enable_Update = read_flag(Internet, QStringLiteral("enable_update"));
    return TLoad::Read;
}

bool TSettings_File::Save(const QString& File, QString& Error) {
    while (!XML1.firstChild().isNull())
        XML1.removeChild(XML1.firstChild());
    QDomElement Root = XML1.createElement(QStringLiteral("Conf_Settings"));
    XML1.appendChild(Root);
    add_leaf(XML1, Root, QStringLiteral("lastproj"), QStringLiteral("projectname"), Last_Project);
    add_leaf(XML1, Root, QStringLiteral("lastipadd"), QStringLiteral("ipaddress"), Last_IPAddress);
    add_leaf(XML1, Root, QStringLiteral("lastlang"), QStringLiteral("language"), Language_Name);
    QDomElement Internet = XML1.createElement(QStringLiteral("lastinternet"));
    Root.appendChild(Internet);
    for (const auto& [Leaf, Flag] : {std::pair{QStringLiteral("enable_internet"), Enable_Internet},
                                     std::pair{QStringLiteral("enable_update"), Enable_Update}}) {
        QDomElement Element = XML1.createElement(Leaf);
        Internet.appendChild(Element);
        Element.appendChild(XML1.createTextNode(flag_text(Flag)));
    }

    QSaveFile Out(File);
    if (!Out.open(QIODevice::WriteOnly) || Out.write(XML1.toByteArray(-1)) < 0 || !Out.commit()) {
        Error = Out.errorString();
        return false;
    }
    return true;
}

QString TSettings_File::Set_Aside(const QString& File) {
    for (int N = 1; N < 1000; ++N) {
        const QString Bad =
            N == 1 ? File + QStringLiteral(".bad") : QStringLiteral("%1.%2.bad").arg(File).arg(N);
        if (QFile::exists(Bad)) continue;
        return QFile::rename(File, Bad) ? Bad : QString();
    }
    return {};
}
