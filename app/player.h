// A player's trip: headlink started bare (a double-click) in the folder of a
// pack it was shipped in. With a person at the console it finds the game,
// shows what it will do and asks before it installs the pack, or undoes it
// when the pack is the newest install there. With nobody there it asks
// nothing and says which command does the job.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace headlink {

// Whether a start with `args` in the current folder is a player's: no
// arguments, none of the three tables here, and folders of heads.
bool startedInPack(const std::vector<std::string>& args);

// Whether a person is there to answer: standard input and output a console
// or terminal.
bool personAtConsole();

// Reads the player's next answer, a line, as the file system spells names
// (a console is read as UTF-16 on Windows); false at the end of input.
bool readAnswer(std::string* line);

// The trip; answers come from `answer`. Returns the exit status.
int playerTrip(std::ostream& out, std::ostream& err, const std::function<bool(std::string*)>& answer);

// For a start with nobody to ask: the one line that says what to run.
std::string packWithoutPerson();

// --find-games: every game folder found, one a line; 1 when there is none.
int printGames(std::ostream& out);

}  // namespace headlink
