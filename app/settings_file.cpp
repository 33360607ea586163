#include "settings_file.h"

#include "UComon.h"

#include <QDomElement>
#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>

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

// Reads the file into Doc. The document model's own parser drops text made of blanks only, and
// the settings keep every blank, so the tree is built here from the stream of the file's parts.
// An XML declaration is not a node of the settings tree.
bool parse(QIODevice& In, QDomDocument& Doc, QString& Error) {
    QXmlStreamReader Reader(&In);
    // A fresh document is null until its first node is created, so the top level is taken as
    // the document only when something is added to it.
    QDomNode Parent;
    const auto add = [&](const QDomNode& Node) {
        (Parent.isNull() ? QDomNode(Doc) : Parent).appendChild(Node);
    };
    while (!Reader.atEnd()) {
        switch (Reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            QDomElement Element = Doc.createElement(Reader.name().toString());
            add(Element);
            Parent = Element;
            break;
        }
        case QXmlStreamReader::EndElement:
            Parent = Parent.parentNode();
            break;
        case QXmlStreamReader::Characters:
            // Line ends between top-level nodes are not part of any value.
            if (Parent.isNull() || Parent.isDocument()) break;
            add(Reader.isCDATA() ? QDomNode(Doc.createCDATASection(Reader.text().toString()))
                                 : QDomNode(Doc.createTextNode(Reader.text().toString())));
            break;
        case QXmlStreamReader::Comment:
            add(Doc.createComment(Reader.text().toString()));
            break;
        case QXmlStreamReader::ProcessingInstruction:
            add(Doc.createProcessingInstruction(Reader.processingInstructionTarget().toString(),
                                                Reader.processingInstructionData().toString()));
            break;
        default:
            break;
        }
    }
    if (!Reader.hasError()) return true;
    Error = QStringLiteral("%1 (line %2, column %3)")
                .arg(Reader.errorString())
                .arg(Reader.lineNumber())
                .arg(Reader.columnNumber());
    return false;
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
    QDomDocument Doc;
    if (!parse(In, Doc, Error)) return TLoad::Unparsable;
    XML1 = Doc;

    // The root is taken by position, not by name.
    QDomNode Root = XML1.firstChild();
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
