<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Version %1 (%2)</source>
        <translation>Version %1 (%2)</translation>
    </message>
    <message>
        <source>The licence text could not be read. It is the file eulaplusgpl.txt in the application&apos;s resources (%1).</source>
        <translation>Le texte de la licence n’a pas pu être lu. C’est le fichier eulaplusgpl.txt des ressources de l’application (%1).</translation>
    </message>
</context>
<context>
    <name>BootImages</name>
    <message>
        <source>%1; the new image is built without boot records.</source>
        <translation>%1&#xa0;; la nouvelle image est construite sans enregistrements d’amorçage.</translation>
    </message>
    <message>
        <source>boot entry %1 (%2)</source>
        <translation>entrée d’amorçage %1 (%2)</translation>
    </message>
    <message>
        <source>The source&apos;s %1 is for a platform the build cannot write</source>
        <translation>L’%1 de la source vise une plateforme que la construction ne sait pas écrire</translation>
    </message>
    <message>
        <source>The source&apos;s %1 loads at segment 0x%2, which the build cannot set</source>
        <translation>L’%1 de la source se charge au segment 0x%2, que la construction ne sait pas fixer</translation>
    </message>
    <message>
        <source>The source image has no boot records</source>
        <translation>L’image source n’a pas d’enregistrements d’amorçage</translation>
    </message>
    <message>
        <source>The source image&apos;s boot catalog cannot be read (%1)</source>
        <translation>Le catalogue d’amorçage de l’image source ne peut pas être lu (%1)</translation>
    </message>
    <message>
        <source>The source image cannot be read (%1)</source>
        <translation>L’image source ne peut pas être lue (%1)</translation>
    </message>
    <message>
        <source>The image of the source&apos;s %1 is not a file of its tree</source>
        <translation>L’image de l’%1 de la source n’est pas un fichier de son arborescence</translation>
    </message>
    <message>
        <source>None of the source image&apos;s boot entries is bootable</source>
        <translation>Aucune des entrées d’amorçage de l’image source n’est amorçable</translation>
    </message>
</context>
<context>
    <name>Conversion</name>
    <message>
        <source>The new image cannot be written beside “%1”.</source>
        <translation>La nouvelle image ne peut pas être écrite à côté de «&#xa0;%1&#xa0;».</translation>
    </message>
    <message>
        <source>Creating ISO</source>
        <translation>Création de l’ISO</translation>
    </message>
    <message>
        <source>The new ISO could not be created.</source>
        <translation>La nouvelle ISO n’a pas pu être créée.</translation>
    </message>
    <message>
        <source>saved</source>
        <translation>saved</translation>
    </message>
    <message>
        <source>ISO creation completed</source>
        <translation>Création de l’ISO terminée</translation>
    </message>
    <message>
        <source>The ISO has been completed successfully. Use it with Boot Camp Assistant to install Windows 10.</source>
        <translation>L’ISO a bien été créée. Utilisez-la avec l’Assistant Boot Camp pour installer Windows 10.</translation>
    </message>
    <message>
        <source>deleting temp files</source>
        <translation>suppression des fichiers temporaires</translation>
    </message>
    <message>
        <source>The source image could not be unmounted.</source>
        <translation>L’image source n’a pas pu être démontée.</translation>
    </message>
    <message>
        <source>Cancelling, please wait</source>
        <translation>Annulation, veuillez patienter</translation>
    </message>
    <message>
        <source>The source image stopped answering.</source>
        <translation>L’image source ne répond plus.</translation>
    </message>
    <message>
        <source>Its file system gave no data for %1 seconds, so it was detached. Check the disk the image is on. (%2)</source>
        <translation>Son système de fichiers n’a fourni aucune donnée pendant %1 secondes&#xa0;; elle a donc été détachée. Vérifiez le disque sur lequel se trouve l’image. (%2)</translation>
    </message>
    <message>
        <source>There is no space left in “%1”.</source>
        <translation>Il n’y a plus d’espace libre dans «&#xa0;%1&#xa0;».</translation>
    </message>
    <message>
        <source>Exporting %1</source>
        <translation>Exportation de %1</translation>
    </message>
    <message>
        <source>ISO Mounting Error</source>
        <translation>Erreur de montage de l’ISO</translation>
    </message>
    <message>
        <source>The ISO could not be mounted. Please verify that all disk images are unmounted in Disk Utility and try again</source>
        <translation>L’ISO n’a pas pu être montée. Vérifiez que toutes les images disque sont démontées dans Utilitaire de disque, puis réessayez</translation>
    </message>
    <message>
        <source>“%1” is not a Windows installation image.</source>
        <translation>«&#xa0;%1&#xa0;» n’est pas une image d’installation de Windows.</translation>
    </message>
    <message>
        <source>It has no “sources” folder.</source>
        <translation>Elle n’a pas de dossier «&#xa0;sources&#xa0;».</translation>
    </message>
    <message>
        <source>“%1” is already split.</source>
        <translation>L’image «&#xa0;%1&#xa0;» est déjà découpée.</translation>
    </message>
    <message>
        <source>Its sources folder holds install.swm: there is nothing left to split.</source>
        <translation>Son dossier sources contient install.swm&#xa0;: il n’y a plus rien à découper.</translation>
    </message>
    <message>
        <source>Its sources folder has neither install.wim nor install.esd.</source>
        <translation>Son dossier sources ne contient ni install.wim ni install.esd.</translation>
    </message>
    <message>
        <source>“%1” is a folder.</source>
        <translation>«&#xa0;%1&#xa0;» est un dossier.</translation>
    </message>
    <message>
        <source>Choose a file name for the new image.</source>
        <translation>Choisissez un nom de fichier pour la nouvelle image.</translation>
    </message>
    <message>
        <source>The new image cannot replace “%1”.</source>
        <translation>La nouvelle image ne peut pas remplacer «&#xa0;%1&#xa0;».</translation>
    </message>
    <message>
        <source>It is the image being converted; choose another name.</source>
        <translation>C’est l’image en cours de conversion&#xa0;; choisissez un autre nom.</translation>
    </message>
    <message>
        <source>written to</source>
        <translation>written to</translation>
    </message>
    <message>
        <source>used for temporary files</source>
        <translation>used for temporary files</translation>
    </message>
    <message>
        <source>The split tool “wimsplit” is missing.</source>
        <translation>L’outil de découpage «&#xa0;wimsplit&#xa0;» est absent.</translation>
    </message>
    <message>
        <source>isoswm expects it at %1. Reinstall isoswm.</source>
        <translation>isoswm l’attend à l’emplacement %1. Réinstallez isoswm.</translation>
    </message>
    <message>
        <source>There is not enough free space in “%1”.</source>
        <translation>Il n’y a pas assez d’espace libre dans «&#xa0;%1&#xa0;».</translation>
    </message>
    <message>
        <source>The conversion needs about %1 there; %2 are free.</source>
        <translation>La conversion y a besoin d’environ %1&#xa0;; il n’en reste que %2.</translation>
    </message>
    <message>
        <source>Its Windows image is part %1 of %2 of a split image.</source>
        <translation>Son image Windows est la partie %1 sur %2 d’une image découpée.</translation>
    </message>
    <message>
        <source>Unmounting ISO</source>
        <translation>Démontage de l’ISO</translation>
    </message>
    <message>
        <source>found</source>
        <translation>found</translation>
    </message>
    <message>
        <source>Splitting install.wim</source>
        <translation>Découpage d’install.wim</translation>
    </message>
    <message>
        <source>install.wim could not be split.</source>
        <translation>install.wim n’a pas pu être découpé.</translation>
    </message>
    <message>
        <source>wimsplit ended without writing %1.</source>
        <translation>wimsplit s’est terminé sans écrire %1.</translation>
    </message>
    <message>
        <source>A piece of the split image is too large for FAT32.</source>
        <translation>Un morceau de l’image découpée est trop grand pour FAT32.</translation>
    </message>
    <message>
        <source>%1 holds %2 bytes; FAT32 holds files below 4 GiB. The image contains a single resource larger than that, which cannot be split.</source>
        <translation>%1 fait %2 octets&#xa0;; FAT32 n’accepte que les fichiers de moins de 4&#xa0;Gio. L’image contient une ressource d’un seul tenant plus grande que cela, impossible à découper.</translation>
    </message>
    <message>
        <source>Verifying install.swm</source>
        <translation>Vérification d’install.swm</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 sur %2</translation>
    </message>
    <message>
        <source>%1/s</source>
        <translation>%1/s</translation>
    </message>
    <message>
        <source>%1 kB</source>
        <translation>%1&#xa0;ko</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1&#xa0;Mo</translation>
    </message>
    <message>
        <source>%1 GB</source>
        <translation>%1&#xa0;Go</translation>
    </message>
    <message>
        <source>%1 TB</source>
        <translation>%1&#xa0;To</translation>
    </message>
    <message>
        <source>1 byte</source>
        <translation>1&#xa0;octet</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1&#xa0;octets</translation>
    </message>
    <message>
        <source>about %1 s left</source>
        <translation>encore environ %1&#xa0;s</translation>
    </message>
    <message>
        <source>about %1 min left</source>
        <translation>encore environ %1&#xa0;min</translation>
    </message>
    <message>
        <source>about %1 h %2 min left</source>
        <translation>encore environ %1&#xa0;h&#xa0;%2&#xa0;min</translation>
    </message>
    <message>
        <source>The mounted volume has no usable folder name.</source>
        <translation>Le volume monté n’a pas de nom de dossier utilisable.</translation>
    </message>
    <message>
        <source>No temporary folder could be made in “%1”.</source>
        <translation>Aucun dossier temporaire n’a pu être créé dans «&#xa0;%1&#xa0;».</translation>
    </message>
    <message>
        <source>copying %1</source>
        <translation>copie de %1</translation>
    </message>
    <message>
        <source>The new image will not boot: %1</source>
        <translation>La nouvelle image ne démarrera pas&#xa0;: %1</translation>
    </message>
    <message>
        <source>“%1” already exists.</source>
        <translation>«&#xa0;%1&#xa0;» existe déjà.</translation>
    </message>
    <message>
        <source>It appeared in “%1” while the new image was being made, and was left as it is. Choose another name, or replace it.</source>
        <translation>Ce fichier est apparu dans «&#xa0;%1&#xa0;» pendant la création de la nouvelle image, et a été laissé tel quel. Choisissez un autre nom, ou remplacez-le.</translation>
    </message>
    <message>
        <source>Opening %1</source>
        <translation>Ouverture de %1</translation>
    </message>
    <message>
        <source>The disk service (UDisks2) does not answer.</source>
        <translation>Le service des disques (UDisks2) ne répond pas.</translation>
    </message>
    <message>
        <source>%1 is not there any more.</source>
        <translation>%1 n’est plus là.</translation>
    </message>
    <message>
        <source>%1 was removed, or another drive took its place. Choose the drive again.</source>
        <translation>%1 a été retiré, ou un autre disque a pris sa place. Choisissez de nouveau le disque.</translation>
    </message>
    <message>
        <source>The USB installer cannot be written to %1.</source>
        <translation>L’installateur USB ne peut pas être écrit sur %1.</translation>
    </message>
    <message>
        <source>%1 could not be opened.</source>
        <translation>%1 n’a pas pu être ouvert.</translation>
    </message>
    <message>
        <source>Copying files to the USB installer</source>
        <translation>Copie des fichiers vers l’installateur USB</translation>
    </message>
    <message>
        <source>Copying install.swm to the USB installer</source>
        <translation>Copie d’install.swm vers l’installateur USB</translation>
    </message>
    <message>
        <source>Writing to %1</source>
        <translation>Écriture sur %1</translation>
    </message>
    <message>
        <source>Checking %1</source>
        <translation>Vérification de %1</translation>
    </message>
    <message>
        <source>%1 was left without a partition table; write it again, or format it.</source>
        <translation>%1 est resté sans table de partitions&#xa0;; écrivez-le de nouveau, ou formatez-le.</translation>
    </message>
    <message>
        <source>USB installer completed</source>
        <translation>Installateur USB terminé</translation>
    </message>
    <message>
        <source>%1 now installs Windows on computers that start from USB with UEFI. It can be removed.</source>
        <translation>%1 installe maintenant Windows sur les ordinateurs qui démarrent sur USB en UEFI. Il peut être retiré.</translation>
    </message>
    <message>
        <source>Power Off</source>
        <translation>Éteindre</translation>
    </message>
    <message>
        <source>The image to convert is on it. Copy the image to another disk first.</source>
        <translation>L’image à convertir s’y trouve. Copiez d’abord l’image sur un autre disque.</translation>
    </message>
    <message>
        <source>The temporary folder “%1” is on it. Choose another one (TMPDIR).</source>
        <translation>Le dossier temporaire «&#xa0;%1&#xa0;» s’y trouve. Choisissez-en un autre (TMPDIR).</translation>
    </message>
    <message>
        <source>The temporary folder “%1” cannot hold this image&apos;s files.</source>
        <translation>Le dossier temporaire « %1 » ne peut pas contenir les fichiers de cette image.</translation>
    </message>
    <message>
        <source>Its file system (FAT) holds files below 4 GiB; install.wim takes %1 there. Choose a folder on another disk.</source>
        <translation>Son système de fichiers (FAT) n’accepte que des fichiers de moins de 4 Gio ; install.wim y occupe %1. Choisissez un dossier sur un autre disque.</translation>
    </message>
    <message>
        <source>Building from the mounted image (--direct) needs less and would fit.</source>
        <translation>Construire à partir de l’image montée (--direct) demande moins de place et tiendrait.</translation>
    </message>
    <message>
        <source>Use “%1”</source>
        <translation>Utiliser « %1 »</translation>
    </message>
    <message>
        <source>The temporary folder “%1” does not exist.</source>
        <translation>Le dossier temporaire « %1 » n’existe pas.</translation>
    </message>
    <message>
        <source>“%1” is not a folder; choose a folder for temporary files.</source>
        <translation>« %1 » n’est pas un dossier ; choisissez un dossier pour les fichiers temporaires.</translation>
    </message>
    <message>
        <source>The temporary folder “%1” cannot be written to.</source>
        <translation>Impossible d’écrire dans le dossier temporaire « %1 ».</translation>
    </message>
    <message>
        <source>Choose a temporary folder on a disk with more room: --temporary-folder or TMPDIR, or Temporary Folder… in the window&apos;s File menu.</source>
        <translation>Choisissez un dossier temporaire sur un disque qui a plus de place : --temporary-folder ou TMPDIR, ou Dossier temporaire… dans le menu Fichier de la fenêtre.</translation>
    </message>
    <message>
        <source>“%1” has the room; choose it with --temporary-folder or TMPDIR, or with Temporary Folder… in the window&apos;s File menu.</source>
        <translation>« %1 » a la place nécessaire ; choisissez-le avec --temporary-folder ou TMPDIR, ou avec Dossier temporaire… dans le menu Fichier de la fenêtre.</translation>
    </message>
    <message>
        <source>“%1” seems to hold less than the %2 it claims. It may be counterfeit or faulty; use another drive.</source>
        <translation>«&#xa0;%1&#xa0;» semble contenir moins que les %2 annoncés. Il est peut-être contrefait ou défectueux&#xa0;; utilisez un autre support.</translation>
    </message>
    <message>
        <source>What was written at byte %1 did not read back.</source>
        <translation>Ce qui a été écrit à l’octet %1 n’a pas été relu à l’identique.</translation>
    </message>
    <message>
        <source>“%1” refuses to be written.</source>
        <translation>«&#xa0;%1&#xa0;» refuse l’écriture.</translation>
    </message>
    <message>
        <source>Its write-protect switch may be on; turn it off, or use another drive.</source>
        <translation>Son verrou de protection en écriture est peut-être enclenché&#xa0;; déverrouillez-le, ou utilisez un autre support.</translation>
    </message>
    <message>
        <source>%1 could not be tested.</source>
        <translation>%1 n’a pas pu être testé.</translation>
    </message>
    <message>
        <source>Testing %1</source>
        <translation>Test de %1</translation>
    </message>
    <message>
        <source>Windows Setup could not be adjusted.</source>
        <translation>Le programme d’installation de Windows n’a pas pu être adapté.</translation>
    </message>
    <message>
        <source>The account needs a name.</source>
        <translation>Le compte a besoin d’un nom.</translation>
    </message>
    <message>
        <source>An account name has at most 20 characters.</source>
        <translation>Un nom de compte a au plus 20 caractères.</translation>
    </message>
    <message>
        <source>An account name cannot hold &quot; / \ [ ] : ; | = , + * ? &lt; &gt; @ or control characters.</source>
        <translation>Un nom de compte ne peut contenir ni &quot; / \ [ ] : ; | = , + * ? &lt; &gt; @ ni caractères de contrôle.</translation>
    </message>
    <message>
        <source>An account name cannot be only dots or spaces.</source>
        <translation>Un nom de compte ne peut pas être fait que de points ou d’espaces.</translation>
    </message>
    <message>
        <source>Windows keeps the name “%1” for itself.</source>
        <translation>Windows se réserve le nom «&#xa0;%1&#xa0;».</translation>
    </message>
    <message>
        <source>no hardware checks</source>
        <translation>sans vérification du matériel</translation>
    </message>
    <message>
        <source>local account “%1”</source>
        <translation>compte local «&#xa0;%1&#xa0;»</translation>
    </message>
    <message>
        <source>no privacy questions</source>
        <translation>sans questions de confidentialité</translation>
    </message>
    <message>
        <source>no device encryption</source>
        <translation>sans chiffrement de l’appareil</translation>
    </message>
    <message>
        <source>regional settings of this computer</source>
        <translation>réglages régionaux de cet ordinateur</translation>
    </message>
    <message>
        <source>Windows Setup: %1</source>
        <translation>Installation de Windows&#xa0;: %1</translation>
    </message>
    <message>
        <source>This image carries an answer file of its own.</source>
        <translation>Cette image contient son propre fichier de réponses.</translation>
    </message>
    <message>
        <source>“%1” is on the image, and Windows Setup would follow it rather than the Windows Setup options. Convert it without them.</source>
        <translation>«&#xa0;%1&#xa0;» se trouve sur l’image, et l’installation de Windows le suivrait plutôt que les options d’installation. Convertissez-la sans ces options.</translation>
    </message>
    <message>
        <source>Windows Setup on this image cannot skip the hardware checks.</source>
        <translation>L’installation de Windows de cette image ne peut pas se passer des vérifications du matériel.</translation>
    </message>
    <message>
        <source>%1/boot.wim holds no registry hive (%2) in its Setup image %3 (“%4”). Convert it without skipping the hardware checks.</source>
        <translation>%1/boot.wim ne contient pas de ruche du registre (%2) dans son image d’installation %3 («&#xa0;%4&#xa0;»). Convertissez-la sans sauter les vérifications du matériel.</translation>
    </message>
    <message>
        <source>Adjusting Windows Setup</source>
        <translation>Adaptation de l’installation de Windows</translation>
    </message>
    <message>
        <source>created</source>
        <translation>créé</translation>
    </message>
    <message>
        <source>written</source>
        <translation>écrit</translation>
    </message>
    <message>
        <source>moved</source>
        <translation>déplacé</translation>
    </message>
    <message>
        <source>The file system of “%1” cannot give back the space of what is on the drive already, so the whole USB installer is held there until it is written.</source>
        <translation>Le système de fichiers de «&#xa0;%1&#xa0;» ne peut pas rendre l’espace de ce qui est déjà sur le lecteur&#xa0;: l’installateur USB y est donc conservé en entier jusqu’à ce qu’il soit écrit.</translation>
    </message>
    <message>
        <source>writing %1</source>
        <translation>écriture de %1</translation>
    </message>
</context>
<context>
    <name>DesktopNotifier</name>
    <message>
        <source>The new ISO is ready</source>
        <translation>La nouvelle ISO est prête</translation>
    </message>
    <message>
        <source>The conversion stopped</source>
        <translation>La conversion s’est arrêtée</translation>
    </message>
    <message>
        <source>%1 says why in its window.</source>
        <translation>%1 en indique la raison dans sa fenêtre.</translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation>Afficher dans le dossier</translation>
    </message>
    <message>
        <source>The USB installer is ready</source>
        <translation>L’installateur USB est prêt</translation>
    </message>
</context>
<context>
    <name>DrivePicker</name>
    <message>
        <source>New ISO image</source>
        <translation>Nouvelle image ISO</translation>
    </message>
    <message>
        <source>USB drive</source>
        <translation>Disque USB</translation>
    </message>
    <message>
        <source>USB drive to write</source>
        <translation>Disque USB à écrire</translation>
    </message>
    <message>
        <source>The disk service (UDisks2) does not answer. %1</source>
        <translation>Le service des disques (UDisks2) ne répond pas. %1</translation>
    </message>
    <message>
        <source>%1 (%2, %3)</source>
        <translation>%1 (%2, %3)</translation>
    </message>
    <message>
        <source>No USB drive plugged in</source>
        <translation>Aucun disque USB branché</translation>
    </message>
</context>
<context>
    <name>DriveRules</name>
    <message>
        <source>Disk image %1</source>
        <translation>Image disque %1</translation>
    </message>
    <message>
        <source>%1 is a partition; choose the whole drive it is on.</source>
        <translation>%1 est une partition&#xa0;; choisissez le disque entier qui la porte.</translation>
    </message>
    <message>
        <source>%1 is a fixed disk of this computer, not a removable drive.</source>
        <translation>%1 est un disque fixe de cet ordinateur, pas un disque amovible.</translation>
    </message>
    <message>
        <source>%1 holds “%2”, which this computer is running from.</source>
        <translation>%1 contient «&#xa0;%2&#xa0;», sur lequel cet ordinateur fonctionne.</translation>
    </message>
    <message>
        <source>%1 holds swap space in use.</source>
        <translation>%1 contient un espace d’échange en service.</translation>
    </message>
    <message>
        <source>%1 is read-only.</source>
        <translation>%1 est en lecture seule.</translation>
    </message>
    <message>
        <source>%1 holds %2; the new installer needs %3.</source>
        <translation>%1 contient %2&#xa0;; le nouvel installateur a besoin de %3.</translation>
    </message>
    <message>
        <source>%1 holds no medium.</source>
        <translation>%1 ne contient aucun support.</translation>
    </message>
    <message>
        <source>%1 is an optical drive.</source>
        <translation>%1 est un lecteur optique.</translation>
    </message>
</context>
<context>
    <name>IsoswmCli</name>
    <message>
        <source>“%1” already exists.</source>
        <translation>«&#xa0;%1&#xa0;» existe déjà.</translation>
    </message>
    <message>
        <source>Use --force to replace it.</source>
        <translation>Utilisez --force pour le remplacer.</translation>
    </message>
    <message>
        <source>Replace DESTINATION.iso if it exists; the old file stays as it was until the new image is complete.</source>
        <translation>Remplace DESTINATION.iso s’il existe&#xa0;; l’ancien fichier reste intact jusqu’à ce que la nouvelle image soit complète.</translation>
    </message>
    <message>
        <source>Show the diagnostic log on standard error.</source>
        <translation>Affiche le journal de diagnostic sur la sortie d’erreur standard.</translation>
    </message>
    <message>
        <source>Keep the boot records of the source, so the new image boots like it (BIOS and UEFI).</source>
        <translation>Conserve les enregistrements d’amorçage de la source, pour que la nouvelle image démarre comme elle (BIOS et UEFI).</translation>
    </message>
    <message>
        <source>The image to convert.</source>
        <translation>L’image à convertir.</translation>
    </message>
    <message>
        <source>The new image.</source>
        <translation>La nouvelle image.</translation>
    </message>
    <message>
        <source>give SOURCE.iso and DESTINATION.iso</source>
        <translation>indiquez SOURCE.iso et DESTINATION.iso</translation>
    </message>
    <message>
        <source>%1 is not a file</source>
        <translation>%1 n’est pas un fichier</translation>
    </message>
    <message>
        <source>the destination must differ from the source</source>
        <translation>la destination doit être différente de la source</translation>
    </message>
    <message>
        <source>the folder of %1 does not exist</source>
        <translation>le dossier de %1 n’existe pas</translation>
    </message>
    <message>
        <source>%1 already exists; use --force to replace it</source>
        <translation>%1 existe déjà&#xa0;; utilisez --force pour le remplacer</translation>
    </message>
    <message>
        <source>isoswm-cli: warning: %1</source>
        <translation>isoswm-cli: avertissement&#xa0;: %1</translation>
    </message>
    <message>
        <source>isoswm-cli: cancelling; waiting for the temporary files to be removed</source>
        <translation>isoswm-cli: annulation&#xa0;; attente de la suppression des fichiers temporaires</translation>
    </message>
    <message>
        <source>Created %1</source>
        <translation>Image créée&#xa0;: %1</translation>
    </message>
    <message>
        <source>Cancelled; %1 was not written.</source>
        <translation>Annulé&#xa0;; %1 n’a pas été écrit.</translation>
    </message>
    <message>
        <source>%1 was not written.</source>
        <translation>%1 n’a pas été écrit.</translation>
    </message>
    <message>
        <source>Split and build straight from the mounted image, without a staging copy: less temporary space and fewer bytes written.</source>
        <translation>Découpe et construit directement depuis l’image montée, sans copie intermédiaire&#xa0;: moins d’espace temporaire et moins d’octets écrits.</translation>
    </message>
    <message>
        <source>Usage: %1 [options] SOURCE.iso DESTINATION.iso</source>
        <translation>Utilisation&#xa0;: %1 [options] SOURCE.iso DESTINATION.iso</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>Options&#xa0;:</translation>
    </message>
    <message>
        <source>Arguments:</source>
        <translation>Arguments&#xa0;:</translation>
    </message>
    <message>
        <source>Try “isoswm-cli --help” for more information.</source>
        <translation>Lancez «&#xa0;isoswm-cli --help&#xa0;» pour en savoir plus.</translation>
    </message>
    <message>
        <source>Show this help and exit.</source>
        <translation>Affiche cette aide et quitte.</translation>
    </message>
    <message>
        <source>Show the version and exit.</source>
        <translation>Affiche la version et quitte.</translation>
    </message>
    <message>
        <source>%1 is a folder; give the new image a file name</source>
        <translation>%1 est un dossier&#xa0;; donnez un nom de fichier à la nouvelle image</translation>
    </message>
    <message>
        <source>isoswm-cli: the disk service (UDisks2) does not answer: %1</source>
        <translation>isoswm-cli&#xa0;: le service des disques (UDisks2) ne répond pas&#xa0;: %1</translation>
    </message>
    <message>
        <source>List the drives a Windows installer could be written to (removable drives and disk images attached as loop devices), one a line, and exit.</source>
        <translation>Afficher les disques sur lesquels un installateur Windows pourrait être écrit (disques amovibles et images disque attachées comme périphériques loop), un par ligne, et quitter.</translation>
    </message>
    <message>
        <source>Makes DESTINATION.iso, a copy of the Windows installation image SOURCE.iso in which sources/install.wim (or install.esd) is split into install.swm pieces of at most 2048 MB, so that the installer fits on FAT32 media.
Progress shows as one updating line on a terminal and otherwise as a plain line per stage; alerts and errors go to standard error. Ctrl-C (or SIGTERM, SIGHUP) cancels the conversion and waits until its temporary files are removed.
With --drive, a USB drive is made the Windows installer instead: everything on it is erased, and it gets a FAT32 file system with the image&apos;s files and the pieces, which computers start from with UEFI. The disk service (UDisks2) opens the drive; polkit may ask for a password, as for restoring a disk image.
Exit status: 0 when the new image was written, 1 when the conversion failed, 2 for wrong usage, 130 when it was cancelled.</source>
        <translation>Crée DESTINATION.iso, une copie de l’image d’installation de Windows SOURCE.iso dans laquelle sources/install.wim (ou install.esd) est découpé en morceaux install.swm d’au plus 2048&#xa0;Mo, pour que le programme d’installation tienne sur un support FAT32.
La progression s’affiche sur une seule ligne mise à jour dans un terminal, et ailleurs en une ligne simple par étape&#xa0;; alertes et erreurs vont sur la sortie d’erreur standard. Ctrl-C (ou SIGTERM, SIGHUP) annule la conversion et attend que ses fichiers temporaires soient supprimés.
Avec --drive, c’est un disque USB qui devient l’installateur de Windows&#xa0;: tout ce qu’il contient est effacé, et il reçoit un système de fichiers FAT32 avec les fichiers de l’image et les morceaux, sur lequel les ordinateurs démarrent en UEFI. Le service des disques (UDisks2) ouvre le disque&#xa0;; polkit peut demander un mot de passe, comme pour restaurer une image disque.
Code de sortie&#xa0;: 0 quand la nouvelle image a été écrite, 1 quand la conversion a échoué, 2 en cas de mauvaise utilisation, 130 quand elle a été annulée.</translation>
    </message>
    <message>
        <source>       %1 [options] --drive DEVICE SOURCE.iso</source>
        <translation>              %1 [options] --drive DEVICE SOURCE.iso</translation>
    </message>
    <message>
        <source>Make the drive DEVICE (its /dev path, a whole drive) the Windows installer, instead of DESTINATION.iso. On a terminal it asks first.</source>
        <translation>Fait du disque DEVICE (son chemin /dev, un disque entier) l’installateur de Windows, au lieu de DESTINATION.iso. Dans un terminal, demande d’abord confirmation.</translation>
    </message>
    <message>
        <source>Erase the drive without asking; needed when standard input is not a terminal.</source>
        <translation>Efface le disque sans demander&#xa0;; nécessaire quand l’entrée standard n’est pas un terminal.</translation>
    </message>
    <message>
        <source>give SOURCE.iso after --drive DEVICE</source>
        <translation>indiquez SOURCE.iso après --drive DEVICE</translation>
    </message>
    <message>
        <source>isoswm-cli: %1 is not a drive the disk service knows; “isoswm-cli --list-drives” lists those it could write.</source>
        <translation>isoswm-cli&#xa0;: %1 n’est pas un disque connu du service des disques&#xa0;; «&#xa0;isoswm-cli --list-drives&#xa0;» liste ceux qu’il pourrait écrire.</translation>
    </message>
    <message>
        <source>nothing is erased unasked: give --yes to write to %1 without a terminal</source>
        <translation>rien n’est effacé sans confirmation&#xa0;: indiquez --yes pour écrire sur %1 sans terminal</translation>
    </message>
    <message>
        <source>Everything on %1 (%2, %3) will be erased.</source>
        <translation>Tout le contenu de %1 (%2, %3) sera effacé.</translation>
    </message>
    <message>
        <source>Make it the Windows installer? [y/N] </source>
        <translation>En faire l’installateur de Windows&#xa0;? [o/N] </translation>
    </message>
    <message>
        <source>y</source>
        <translation>o</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>oui</translation>
    </message>
    <message>
        <source>Nothing was written to %1.</source>
        <translation>Rien n’a été écrit sur %1.</translation>
    </message>
    <message>
        <source>Cancelled; the installer on %1 was not finished.</source>
        <translation>Annulé&#xa0;; l’installateur sur %1 n’a pas été terminé.</translation>
    </message>
    <message>
        <source>The installer on %1 was not finished.</source>
        <translation>L’installateur sur %1 n’a pas été terminé.</translation>
    </message>
    <message>
        <source>Make the large temporary files in DIR instead of TMPDIR or /var/tmp. A conversion needs about twice the image&apos;s size there (--direct about once), a USB drive about once to twice.</source>
        <translation>Créer les gros fichiers temporaires dans DIR au lieu de TMPDIR ou /var/tmp. Une conversion y a besoin d’environ deux fois la taille de l’image (une fois avec --direct), une clé USB d’une à deux fois.</translation>
    </message>
    <message>
        <source>Windows Setup does not check TPM, Secure Boot, memory or processor (LabConfig values in boot.wim&apos;s registry).</source>
        <translation>L’installation de Windows ne vérifie ni TPM, ni Secure Boot, ni mémoire, ni processeur (valeurs LabConfig dans le registre de boot.wim).</translation>
    </message>
    <message>
        <source>Setup creates the local administrator NAME and asks for no Microsoft account and no network. No password is stored on the media: Windows asks for one at the second sign-in.</source>
        <translation>L’installation crée l’administrateur local NAME et ne demande ni compte Microsoft ni réseau. Aucun mot de passe n’est enregistré sur le support&#xa0;: Windows en demande un à la deuxième ouverture de session.</translation>
    </message>
    <message>
        <source>The privacy questions are answered with the most private choice and the licence page is not shown.</source>
        <translation>Les questions de confidentialité reçoivent la réponse la plus protectrice et la page de licence n’est pas affichée.</translation>
    </message>
    <message>
        <source>Windows does not turn on device encryption by itself.</source>
        <translation>Windows n’active pas de lui-même le chiffrement de l’appareil.</translation>
    </message>
    <message>
        <source>Language, keyboard, formats and time zone as on this computer.</source>
        <translation>Langue, clavier, formats et fuseau horaire comme sur cet ordinateur.</translation>
    </message>
    <message>
        <source>Windows Setup options (all off by default):</source>
        <translation>Options d’installation de Windows (toutes désactivées par défaut)&#xa0;:</translation>
    </message>
</context>
<context>
    <name>LicenseWindow</name>
    <message>
        <source>Licence</source>
        <translation>Licence</translation>
    </message>
</context>
<context>
    <name>LogWindow</name>
    <message>
        <source>Log</source>
        <translation>Journal</translation>
    </message>
    <message>
        <source>Copy All</source>
        <translation>Tout copier</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>No Windows ISO selected</source>
        <translation>Aucune ISO Windows choisie</translation>
    </message>
    <message>
        <source>A conversion is in progress. Stop it and quit?</source>
        <translation>Une conversion est en cours. L’arrêter et quitter&#xa0;?</translation>
    </message>
    <message>
        <source>The ISO being written will not be finished, and its temporary files will be removed before %1 quits.</source>
        <translation>L’ISO en cours d’écriture ne sera pas terminée, et ses fichiers temporaires seront supprimés avant que %1 ne quitte.</translation>
    </message>
    <message>
        <source>Stop and Quit</source>
        <translation>Arrêter et quitter</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Continuer</translation>
    </message>
    <message>
        <source>Splits install.wim so a Windows ISO fits on FAT32 media</source>
        <translation>Découpe install.wim pour qu’une ISO Windows tienne sur FAT32</translation>
    </message>
    <message>
        <source>Select Windows ISO...</source>
        <translation>Choisir l’ISO Windows…</translation>
    </message>
    <message>
        <source>More Tools</source>
        <translation>Autres outils</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Select Windows ISO...</source>
        <translation>&amp;Choisir l’ISO Windows…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Aide</translation>
    </message>
    <message>
        <source>&amp;Licence</source>
        <translation>&amp;Licence</translation>
    </message>
    <message>
        <source>View &amp;Log</source>
        <translation>Afficher le &amp;journal</translation>
    </message>
    <message>
        <source>&amp;More Tools...</source>
        <translation>&amp;Autres outils…</translation>
    </message>
    <message>
        <source>What the conversion is doing</source>
        <translation>Ce que fait la conversion</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Avancement de la conversion</translation>
    </message>
    <message>
        <source>The Windows ISO image to convert</source>
        <translation>L’image ISO Windows à convertir</translation>
    </message>
    <message>
        <source>Chooses the Windows ISO image to convert</source>
        <translation>Choisit l’image ISO Windows à convertir</translation>
    </message>
    <message>
        <source>Shows other tools from the same makers</source>
        <translation>Montre d’autres outils des mêmes auteurs</translation>
    </message>
    <message>
        <source>Version of %1</source>
        <translation>Version de %1</translation>
    </message>
    <message>
        <source>Cancelled</source>
        <translation>Conversion annulée</translation>
    </message>
    <message>
        <source>Keep the New Image &amp;Bootable</source>
        <translation>Garder la nouvelle image &amp;amorçable</translation>
    </message>
    <message>
        <source>Build from the &amp;Mounted Image (Less Space)</source>
        <translation>Construire depuis l’image &amp;montée (moins d’espace)</translation>
    </message>
    <message>
        <source>Bytes done, rate and time left of the stage</source>
        <translation>Octets traités, débit et temps restant de l’étape</translation>
    </message>
    <message>
        <source>Write to Drive...</source>
        <translation>Écrire sur le disque…</translation>
    </message>
    <message>
        <source>Erase %1?</source>
        <translation>Effacer %1&#xa0;?</translation>
    </message>
    <message>
        <source>Everything on it will be erased. It becomes a Windows installer that computers start from with UEFI.</source>
        <translation>Tout son contenu sera effacé. Il deviendra un installateur de Windows sur lequel les ordinateurs démarrent en UEFI.</translation>
    </message>
    <message>
        <source>Erase</source>
        <translation>Effacer</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Saves a copy of the image with install.wim split, or makes the USB drive a Windows installer, or cancels the running conversion</source>
        <translation>Enregistre une copie de l’image avec install.wim découpé, ou fait du disque USB un installateur de Windows, ou annule la conversion en cours</translation>
    </message>
</context>
<context>
    <name>ProgressLine</name>
    <message>
        <source>Mounting ISO</source>
        <translation>Montage de l’ISO</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Terminé</translation>
    </message>
</context>
<context>
    <name>QNSPromoManager</name>
    <message>
        <source>More Tools</source>
        <translation>Autres outils</translation>
    </message>
    <message>
        <source>&lt;b&gt;More from the makers of %1&lt;/b&gt;</source>
        <translation>&lt;b&gt;D’autres outils des auteurs de %1&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Other tools from the %1 developers will be listed here as they become available.&lt;br&gt;&lt;br&gt;Thank you for using %1.</source>
        <translation>Les autres outils des développeurs de %1 seront présentés ici dès qu’ils seront disponibles.&lt;br&gt;&lt;br&gt;Merci d’utiliser %1.</translation>
    </message>
</context>
<context>
    <name>SetupOptionsDialog</name>
    <message>
        <source>Windows Setup Options</source>
        <translation>Options d’installation de Windows</translation>
    </message>
    <message>
        <source>All are off unless chosen; they change only Windows Setup on the new image or the USB installer.</source>
        <translation>Toutes sont désactivées sauf choix contraire&#xa0;; elles ne modifient que l’installation de Windows sur la nouvelle image ou l’installateur USB.</translation>
    </message>
    <message>
        <source>Skip the TPM, Secure Boot, memory and processor checks</source>
        <translation>Sauter les vérifications de TPM, Secure Boot, mémoire et processeur</translation>
    </message>
    <message>
        <source>Create a local administrator account, without a Microsoft account or network:</source>
        <translation>Créer un compte administrateur local, sans compte Microsoft ni réseau&#xa0;:</translation>
    </message>
    <message>
        <source>No password is stored on the media: the account starts without one, and Windows asks for a new one at the second sign-in.</source>
        <translation>Aucun mot de passe n’est enregistré sur le support&#xa0;: le compte commence sans, et Windows en demande un nouveau à la deuxième ouverture de session.</translation>
    </message>
    <message>
        <source>Answer the privacy questions with the most private choice and skip the licence page</source>
        <translation>Répondre aux questions de confidentialité par le choix le plus protecteur et sauter la page de licence</translation>
    </message>
    <message>
        <source>Do not turn on device encryption</source>
        <translation>Ne pas activer le chiffrement de l’appareil</translation>
    </message>
    <message>
        <source>Language, keyboard, formats and time zone of this computer</source>
        <translation>Langue, clavier, formats et fuseau horaire de cet ordinateur</translation>
    </message>
    <message>
        <source>Windows &amp;Setup Options…</source>
        <translation>Options d’&amp;installation de Windows…</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>A Windows image is being converted</source>
        <translation>Une image Windows est en cours de conversion</translation>
    </message>
</context>
<context>
    <name>StickImage</name>
    <message>
        <source>The tool “%1” is missing.</source>
        <translation>L’outil «&#xa0;%1&#xa0;» est absent.</translation>
    </message>
    <message>
        <source>The USB installer could not be built.</source>
        <translation>L’installateur USB n’a pas pu être construit.</translation>
    </message>
    <message>
        <source>%1 did not finish.</source>
        <translation>%1 ne s’est pas terminé.</translation>
    </message>
    <message>
        <source>“%1” is a name FAT32 cannot hold.</source>
        <translation>«&#xa0;%1&#xa0;» est un nom que FAT32 ne peut pas contenir.</translation>
    </message>
    <message>
        <source>Stopped.</source>
        <translation>Arrêté.</translation>
    </message>
    <message>
        <source>The USB installer was not finished.</source>
        <translation>L’installateur USB n’a pas été terminé.</translation>
    </message>
    <message>
        <source>There is no room left on the drive for %1.</source>
        <translation>Il ne reste plus de place sur le lecteur pour %1.</translation>
    </message>
</context>
<context>
    <name>StickWriter</name>
    <message>
        <source>The USB drive could not be written.</source>
        <translation>Le disque USB n’a pas pu être écrit.</translation>
    </message>
    <message>
        <source>reading the image</source>
        <translation>lecture de l’image</translation>
    </message>
    <message>
        <source>writing the drive</source>
        <translation>écriture du disque</translation>
    </message>
    <message>
        <source>The write was cancelled.</source>
        <translation>L’écriture a été annulée.</translation>
    </message>
    <message>
        <source>reading the drive back</source>
        <translation>relecture du disque</translation>
    </message>
    <message>
        <source>The USB drive did not keep what was written to it.</source>
        <translation>Le disque USB n’a pas gardé ce qui y a été écrit.</translation>
    </message>
    <message>
        <source>The %1 bytes at %2 read back differently. The drive may be faulty, or smaller than it claims.</source>
        <translation>Les %1 octets à la position %2 se relisent autrement. Le disque est peut-être défectueux, ou plus petit qu’il ne le prétend.</translation>
    </message>
    <message>
        <source>erasing the partition tables</source>
        <translation>effacement des tables de partitions</translation>
    </message>
    <message>
        <source>The installer was not made for this drive.</source>
        <translation>L’installateur n’a pas été fait pour ce disque.</translation>
    </message>
    <message>
        <source>%1 bytes in 512-byte sectors made, %2 in %3-byte sectors there</source>
        <translation>%1 octets en secteurs de 512 octets préparés, %2 en secteurs de %3 octets sur le disque</translation>
    </message>
    <message>
        <source>%1 holds no FAT32 file system.</source>
        <translation>%1 ne contient aucun système de fichiers FAT32.</translation>
    </message>
</context>
<context>
    <name>TemporaryFolderChoice</name>
    <message>
        <source>Choose a Folder for Temporary Files</source>
        <translation>Choisir un dossier pour les fichiers temporaires</translation>
    </message>
    <message>
        <source>Temporary Folder</source>
        <translation>Dossier temporaire</translation>
    </message>
    <message>
        <source>&amp;Temporary Folder… (%1)</source>
        <translation>Dossier &amp;temporaire… (%1)</translation>
    </message>
</context>
<context>
    <name>UDisksDrives</name>
    <message>
        <source>Permission to write to %1 was not given.</source>
        <translation>L’autorisation d’écrire sur %1 n’a pas été donnée.</translation>
    </message>
    <message>
        <source>%1 could not be opened: %2</source>
        <translation>%1 n’a pas pu être ouvert&#xa0;: %2</translation>
    </message>
    <message>
        <source>Permission to unmount the file systems of %1 was not given.</source>
        <translation>L’autorisation de démonter les systèmes de fichiers de %1 n’a pas été donnée.</translation>
    </message>
    <message>
        <source>A file system of %1 could not be unmounted: %2</source>
        <translation>Un système de fichiers de %1 n’a pas pu être démonté&#xa0;: %2</translation>
    </message>
    <message>
        <source>%1 could not be powered off: %2</source>
        <translation>%1 n’a pas pu être éteint&#xa0;: %2</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Select a Windows ISO Image:</source>
        <translation>Choisissez une image ISO Windows&#xa0;:</translation>
    </message>
    <message>
        <source>Save...</source>
        <translation>Enregistrer…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
</context>
<context>
    <name>WidgetPrompts</name>
    <message>
        <source>All files (*)</source>
        <translation>Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>%1 images</source>
        <translation>Images %1</translation>
    </message>
    <message>
        <source>Images</source>
        <translation>Images</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Enregistrer</translation>
    </message>
    <message>
        <source>“%1” already exists. Do you want to replace it?</source>
        <translation>«&#xa0;%1&#xa0;» existe déjà. Voulez-vous le remplacer&#xa0;?</translation>
    </message>
    <message>
        <source>A file with the same name already exists in “%1”. Replacing it will overwrite its current contents.</source>
        <translation>Un fichier du même nom existe déjà dans «&#xa0;%1&#xa0;». Le remplacer écrasera son contenu actuel.</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Remplacer</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Makes a copy of a Windows installation image (ISO) in which sources/install.wim is split into pieces of at most 2048 MB, so that the installer fits on FAT32 media.</source>
        <translation>Fait une copie d’une image d’installation de Windows (ISO) dans laquelle sources/install.wim est découpé en morceaux d’au plus 2048 Mo, pour que le programme d’installation tienne sur un support FAT32.</translation>
    </message>
    <message>
        <source>The Windows ISO image to open as the source.</source>
        <translation>L’image ISO Windows à ouvrir comme source.</translation>
    </message>
    <message>
        <source>isoswm: %1 is not a file</source>
        <translation>isoswm: %1 n’est pas un fichier</translation>
    </message>
</context>
</TS>
