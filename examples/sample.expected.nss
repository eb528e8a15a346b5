/* Persistent World Tessary System
   DESC: Contains the function that brings in the persistent data from another module.
   ORIGINAL CREATOR, v1.8: vesper_ashgrove
   v2.0 CHANGES: KestrelMoor
*/
#include "tsry_functions"
 
void main()
{
    object oTYArea;
    vector vTYVector;
    location lTYLoc;
 
    SetTSRYInt("PW_GOLD_Aldren", 2375, 0, 0, 0);
    SetTSRYString("PW_TITLE_Aldren", "Warden of the North Gate", 0, 0, 0);
    SetTSRYFloat("PW_XPRATE", 1.5, 0, 0, 0);
    oTYArea=GetObjectByTag("ar_temple_hall");
    vTYVector=Vector(2.0, 4.0, 0.0);
    lTYLoc=Location(oTYArea, vTYVector, 90.0);
    SetTSRYLocationC("PW_HOME_Aldren", lTYLoc, 0, 0, 0);
    SetTSRYInt("PW_QUEST_Bramble_Stage", 4, 1, 0, 0);
    SetTSRYString("PW_MOTD", "Welcome to the \"Isles\": read the rules at C:\\pw\\rules.txt", 0, 0, 0);
    SetTSRYInt("PW_GOLD_Kael", 240, 0, 0, 0);
    oTYArea=GetObjectByTag("ar_crypt_entry");
    vTYVector=Vector(8.0, 91.25, -2.5);
    lTYLoc=Location(oTYArea, vTYVector, 270.0);
    SetTSRYLocationC("PW_HOME_Kael", lTYLoc, 1, 0, 0);
    SetTSRYString("PW_TITLE_Kael", "Crypt Delver", 0, 0, 0);
 
}
