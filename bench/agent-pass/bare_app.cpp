#include <QApplication>

// The floor of any start of the agent: the application object is made, and nothing else.
int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    return 0;
}
