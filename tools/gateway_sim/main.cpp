#include "gatewaysimulator.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillark-gateway-sim"));

    GatewaySimulator::Options options;
    QString error;
    bool help = false;
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!GatewaySimulator::parseArguments(app.arguments(), &options, &error, &help)) {
        err << "quillark-gateway-sim: " << error << "\n\n" << GatewaySimulator::helpText();
        return 2;
    }
    if (help) {
        out << GatewaySimulator::helpText();
        return 0;
    }

    GatewaySimulator simulator(options);
    if (!simulator.start(&error)) {
        err << "quillark-gateway-sim: cannot listen on 127.0.0.1:" << options.port << ": " << error
            << "\n";
        return 1;
    }
    out << "quillark-gateway-sim listening on 127.0.0.1:" << simulator.serverPort() << " with "
        << options.devices << " devices" << Qt::endl;
    return app.exec();
}
