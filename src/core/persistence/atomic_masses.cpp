#include "core/persistence/atomic_masses.h"

namespace qd {
namespace {

struct Element {
  const char* symbol;
  Extended mass;
};

// The standard atomic masses (IUPAC 2016) as the extended XYZ tools of the
// ASE convention assign them to a species that has no masses column, in
// order of atomic number; "X", number 0, is their placeholder atom of mass 1.
constexpr Element kElements[] = {
    {"X", 1.0L},        {"H", 1.008L},        {"He", 4.002602L},  {"Li", 6.94L},
    {"Be", 9.0121831L}, {"B", 10.81L},        {"C", 12.011L},     {"N", 14.007L},
    {"O", 15.999L},     {"F", 18.998403163L}, {"Ne", 20.1797L},   {"Na", 22.98976928L},
    {"Mg", 24.305L},    {"Al", 26.9815385L},  {"Si", 28.085L},    {"P", 30.973761998L},
    {"S", 32.06L},      {"Cl", 35.45L},       {"Ar", 39.948L},    {"K", 39.0983L},
    {"Ca", 40.078L},    {"Sc", 44.955908L},   {"Ti", 47.867L},    {"V", 50.9415L},
    {"Cr", 51.9961L},   {"Mn", 54.938044L},   {"Fe", 55.845L},    {"Co", 58.933194L},
    {"Ni", 58.6934L},   {"Cu", 63.546L},      {"Zn", 65.38L},     {"Ga", 69.723L},
    {"Ge", 72.63L},     {"As", 74.921595L},   {"Se", 78.971L},    {"Br", 79.904L},
    {"Kr", 83.798L},    {"Rb", 85.4678L},     {"Sr", 87.62L},     {"Y", 88.90584L},
    {"Zr", 91.224L},    {"Nb", 92.90637L},    {"Mo", 95.95L},     {"Tc", 97.90721L},
    {"Ru", 101.07L},    {"Rh", 102.9055L},    {"Pd", 106.42L},    {"Ag", 107.8682L},
    {"Cd", 112.414L},   {"In", 114.818L},     {"Sn", 118.71L},    {"Sb", 121.76L},
    {"Te", 127.6L},     {"I", 126.90447L},    {"Xe", 131.293L},   {"Cs", 132.90545196L},
    {"Ba", 137.327L},   {"La", 138.90547L},   {"Ce", 140.116L},   {"Pr", 140.90766L},
    {"Nd", 144.242L},   {"Pm", 144.91276L},   {"Sm", 150.36L},    {"Eu", 151.964L},
    {"Gd", 157.25L},    {"Tb", 158.92535L},   {"Dy", 162.5L},     {"Ho", 164.93033L},
    {"Er", 167.259L},   {"Tm", 168.93422L},   {"Yb", 173.054L},   {"Lu", 174.9668L},
    {"Hf", 178.49L},    {"Ta", 180.94788L},   {"W", 183.84L},     {"Re", 186.207L},
    {"Os", 190.23L},    {"Ir", 192.217L},     {"Pt", 195.084L},   {"Au", 196.966569L},
    {"Hg", 200.592L},   {"Tl", 204.38L},      {"Pb", 207.2L},     {"Bi", 208.9804L},
    {"Po", 208.98243L}, {"At", 209.98715L},   {"Rn", 222.01758L}, {"Fr", 223.01974L},
    {"Ra", 226.02541L}, {"Ac", 227.02775L},   {"Th", 232.0377L},  {"Pa", 231.03588L},
    {"U", 238.02891L},  {"Np", 237.04817L},   {"Pu", 244.06421L}, {"Am", 243.06138L},
    {"Cm", 247.07035L}, {"Bk", 247.07031L},   {"Cf", 251.07959L}, {"Es", 252.083L},
    {"Fm", 257.09511L}, {"Md", 258.09843L},   {"No", 259.101L},   {"Lr", 262.11L},
    {"Rf", 267.122L},   {"Db", 268.126L},     {"Sg", 271.134L},   {"Bh", 270.133L},
    {"Hs", 269.1338L},  {"Mt", 278.156L},     {"Ds", 281.165L},   {"Rg", 281.166L},
    {"Cn", 285.177L},   {"Nh", 286.182L},     {"Fl", 289.19L},    {"Mc", 289.194L},
    {"Lv", 293.204L},   {"Ts", 293.208L},     {"Og", 294.214L}};

}  // namespace

std::optional<Extended> StandardAtomicMass(std::string_view symbol) {
  for (const Element& e : kElements)
    if (symbol == e.symbol) return e.mass;
  return std::nullopt;
}

}  // namespace qd
